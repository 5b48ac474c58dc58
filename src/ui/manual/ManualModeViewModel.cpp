#include "ui/manual/ManualModeViewModel.h"

#include "model/AppError.h"
#include "model/AppLanguage.h"
#include "model/TextUtil.h"
#include "services/AIServiceFactory.h"
#include "services/FileScannerService.h"
#include "services/TagUpdateService.h"
#include "services/WriteSessionGate.h"
#include "services/YearLookupService.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/UniversalTagWriter.h"
#include "ui/manual/StatusBadgeViewModel.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace {

const QList<SortColumn> kSortColumns = {
    SortColumn::title, SortColumn::artist, SortColumn::album,    SortColumn::year,   SortColumn::decade,
    SortColumn::genre, SortColumn::format, SortColumn::duration, SortColumn::status, SortColumn::directory};
const QStringList kSortColumnNames = {"title", "artist", "album",    "year",   "decade",
                                      "genre", "format", "duration", "status", "directory"};

QString folded(const QString& text) {
    return text.toLower().normalized(QString::NormalizationForm_C);
}

QString fileNameOf(const QString& path) {
    return path.section(QLatin1Char('/'), -1);
}

QString cleanedAbsolute(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool isProblem(const MusicFile& file) {
    const auto kind = file.status.kind();
    return kind == ProcessingStatus::Kind::error || kind == ProcessingStatus::Kind::yearNotFound;
}

// The sort key of a row: a text or a number, by column.
struct SortKey {
    QString text;
    double number = 0;
};

SortKey sortKey(const MusicFile& f, SortColumn column, const QList<DecadeRule>& rules) {
    switch (column) {
    case SortColumn::title:
        return {f.title.normalized(QString::NormalizationForm_C)};
    case SortColumn::artist:
        return {f.artist.normalized(QString::NormalizationForm_C)};
    case SortColumn::album:
        return {f.album.normalized(QString::NormalizationForm_C)};
    case SortColumn::genre:
        return {f.genre.normalized(QString::NormalizationForm_C)};
    case SortColumn::year:
        return {{}, double(f.effectiveYear().value_or(0))};
    case SortColumn::decade:
        return {f.decadeLabel(rules).value_or(QString()).normalized(QString::NormalizationForm_C)};
    case SortColumn::format:
        return {rawValue(f.format).toUpper()};
    case SortColumn::duration:
        return {{}, f.duration};
    case SortColumn::status:
        return {colorName(f.status)};
    case SortColumn::directory:
        return {f.directoryPath().normalized(QString::NormalizationForm_C)};
    }
    return {};
}

bool isNumeric(SortColumn column) {
    return column == SortColumn::year || column == SortColumn::duration;
}

} // namespace

QString rawValue(SortColumn column) {
    return kSortColumnNames.at(kSortColumns.indexOf(column));
}

std::optional<SortColumn> sortColumnFromRawValue(const QString& raw) {
    const qsizetype index = kSortColumnNames.indexOf(raw);
    if (index < 0) {
        return std::nullopt;
    }
    return kSortColumns.at(index);
}

const QList<SortColumn>& allSortColumns() {
    return kSortColumns;
}

struct ManualModeViewModel::LookupRun {
    quint64 generation;
    CancelToken cancel;
    QList<MusicFile> entries;
    int next = 0;
    int done = 0;
    int inFlight = 0;
};

struct ManualModeViewModel::WriteRun {
    quint64 generation;
    CancelToken cancel;
    QList<MusicFile> rows;
    WriteUndoManager::SessionId session;
    int next = 0;
};

ManualModeViewModel::ManualModeViewModel(QObject* parent) : ManualModeViewModel(Dependencies{}, parent) {}

ManualModeViewModel::ManualModeViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), m_deps(std::move(dependencies)) {
    m_deps.fillDefaults();
    connect(m_deps.gate, &WriteSessionGate::changed, this, &ManualModeViewModel::stateChanged);
}

ManualModeViewModel::~ManualModeViewModel() {
    m_cancel.cancel();
    m_work.waitForDone();
    m_deps.gate->release(this);
}

void ManualModeViewModel::clearErrorMessage() {
    m_errorMessage.reset();
    Q_EMIT stateChanged();
}

void ManualModeViewModel::setSort(SortColumn column, bool ascending) {
    m_sortColumn = column;
    m_sortAscending = ascending;
    m_shown = {};
    Q_EMIT stateChanged();
    Q_EMIT filesChanged();
}

void ManualModeViewModel::setFilterText(const QString& text) {
    if (text == m_filterText) {
        return;
    }
    m_filterText = text;
    m_shown = {};
    Q_EMIT stateChanged();
    Q_EMIT filesChanged();
}

void ManualModeViewModel::setShowOnlyProblematic(bool on) {
    if (on == m_showOnlyProblematic) {
        return;
    }
    m_showOnlyProblematic = on;
    m_shown = {};
    Q_EMIT stateChanged();
    Q_EMIT filesChanged();
}

bool ManualModeViewModel::canUndo() const {
    return m_canUndo && m_deps.undoLog->holdsUndoableSession(m_ownSessions);
}

bool ManualModeViewModel::canStartWrite() const {
    return !isBusy() && !isWriteInFlight() && !m_deps.gate->isHeldByOther(this);
}

QList<DecadeRule> ManualModeViewModel::decadeRules() const {
    return m_deps.settings()->decadeRules;
}

bool ManualModeViewModel::isShown(const MusicFile& f, const QString& query) const {
    if (m_showOnlyProblematic && !isProblem(f)) {
        return false;
    }
    return query.isEmpty() || folded(f.title).contains(query) || folded(f.artist).contains(query) ||
           folded(f.album).contains(query) || folded(f.genre).contains(query) ||
           folded(fileNameOf(f.url)).contains(query);
}

QList<MusicFile> ManualModeViewModel::filteredFiles() const {
    Shown& shown = m_shown;
    QList<DecadeRule> rules = m_deps.settings()->decadeRules;
    if (!shown.valid || rules != shown.rules) {
        sortShown(std::move(rules));
    }
    if (!shown.rowsValid) {
        shown.rows.clear();
        shown.rows.reserve(qsizetype(shown.order.size()));
        for (const qsizetype index : shown.order) {
            shown.rows.append(m_files.at(index));
        }
        shown.rowsValid = true;
    }
    return shown.rows;
}

void ManualModeViewModel::sortShown(QList<DecadeRule> rules) const {
    Shown& shown = m_shown;
    shown.query = folded(m_filterText);
    shown.rules = std::move(rules);
    std::vector<std::pair<SortKey, qsizetype>> keyed;
    keyed.reserve(size_t(m_files.size()));
    for (qsizetype i = 0; i < m_files.size(); ++i) {
        if (isShown(m_files.at(i), shown.query)) {
            keyed.emplace_back(sortKey(m_files.at(i), m_sortColumn, shown.rules), i);
        }
    }
    const bool numeric = isNumeric(m_sortColumn);
    const bool ascending = m_sortAscending;
    std::stable_sort(keyed.begin(), keyed.end(), [numeric, ascending](const auto& a, const auto& b) {
        const SortKey& x = ascending ? a.first : b.first;
        const SortKey& y = ascending ? b.first : a.first;
        return numeric ? x.number < y.number : TextUtil::compareScalars(x.text, y.text) < 0;
    });
    shown.order.clear();
    shown.order.reserve(keyed.size());
    shown.placeOf.assign(size_t(m_files.size()), -1);
    for (const auto& entry : keyed) {
        shown.placeOf[size_t(entry.second)] = qsizetype(shown.order.size());
        shown.order.push_back(entry.second);
    }
    shown.valid = true;
    shown.rowsValid = false;
}

QList<MusicFile> ManualModeViewModel::problematicFiles() const {
    QList<MusicFile> out;
    std::copy_if(m_files.begin(), m_files.end(), std::back_inserter(out), isProblem);
    return out;
}

StatusCounts ManualModeViewModel::statusCounts() const {
    StatusCounts c;
    for (const MusicFile& f : m_files) {
        ++c.total;
        c.genreFound += f.discoveredGenre.has_value() ? 1 : 0;
        switch (f.status.kind()) {
        case ProcessingStatus::Kind::yearFound:
            ++c.yearFound;
            break;
        case ProcessingStatus::Kind::yearNotFound:
            ++c.notFound;
            break;
        case ProcessingStatus::Kind::updated:
            ++c.updated;
            break;
        case ProcessingStatus::Kind::alreadyHasDecade:
            ++c.skipped;
            break;
        case ProcessingStatus::Kind::error:
            ++c.errors;
            break;
        case ProcessingStatus::Kind::pending:
        case ProcessingStatus::Kind::lookingUp:
            break;
        }
    }
    return c;
}

int ManualModeViewModel::indexOf(const QUuid& id) const {
    return int(m_indexById.value(id, -1));
}

const MusicFile* ManualModeViewModel::findFile(const QUuid& id) const {
    const int index = indexOf(id);
    return index < 0 ? nullptr : &m_files.at(index);
}

void ManualModeViewModel::filesReplaced() {
    m_indexById.clear();
    m_indexById.reserve(m_files.size());
    for (qsizetype i = m_files.size() - 1; i >= 0; --i) {
        m_indexById.insert(m_files.at(i).id, i); // the first row of an id wins, as a scan from the top did
    }
    m_shown = {};
}

void ManualModeViewModel::setRow(int index, const MusicFile& row) {
    if (m_shown.valid) {
        // The shown rows stay valid while the row keeps its filter result and sort key.
        const MusicFile& old = m_files.at(index);
        const bool shown = isShown(row, m_shown.query);
        const qsizetype place = m_shown.placeOf[size_t(index)];
        bool keeps = shown == (place >= 0);
        if (keeps && shown) {
            const SortKey before = sortKey(old, m_sortColumn, m_shown.rules);
            const SortKey after = sortKey(row, m_sortColumn, m_shown.rules);
            keeps = before.text == after.text && before.number == after.number;
        }
        if (!keeps) {
            m_shown = {};
        } else if (shown && m_shown.rowsValid) {
            m_shown.rows[place] = row;
        }
    }
    m_files[index] = row;
    Q_EMIT fileChanged(row.id);
}

void ManualModeViewModel::modifyFile(const QUuid& id, const std::function<void(MusicFile&)>& mutation) {
    const int index = indexOf(id);
    if (index < 0) {
        return;
    }
    MusicFile copy = m_files.at(index);
    mutation(copy);
    ++copy.renderVersion;
    setRow(index, copy);
}

void ManualModeViewModel::replaceFilesById(const QList<MusicFile>& rows) {
    for (const MusicFile& row : rows) {
        const int index = indexOf(row.id);
        if (index >= 0) {
            setRow(index, row);
        }
    }
}

void ManualModeViewModel::setManualYear(std::optional<int> year, const MusicFile& file) {
    const int index = indexOf(file.id);
    if (index < 0) {
        return;
    }
    MusicFile row = m_files.at(index);
    row.manualYear = year;
    if (year) {
        row.status = ProcessingStatus::yearFound(*year);
    }
    setRow(index, row);
}

void ManualModeViewModel::applySort(const QList<SortDescriptor>& descriptors) {
    if (descriptors.isEmpty()) {
        return;
    }
    const SortDescriptor& d = descriptors.first();
    static const QList<SortColumn> settable = {SortColumn::title,    SortColumn::artist, SortColumn::album,
                                               SortColumn::year,     SortColumn::decade, SortColumn::genre,
                                               SortColumn::directory};
    setSort(settable.contains(d.column) ? d.column : m_sortColumn, d.ascending);
}

quint64 ManualModeViewModel::beginRun() {
    m_cancel = CancelToken();
    return m_work.nextGeneration();
}

void ManualModeViewModel::cancelAll() {
    m_cancel.cancel();
    // The results of the lookups in flight are dropped: their rows stop
    // searching and show what they showed before.
    const QHash<QUuid, ProcessingStatus> searching = std::exchange(m_statusBeforeLookup, {});
    for (auto it = searching.begin(); it != searching.end(); ++it) {
        modifyFile(it.key(), [&](MusicFile& row) {
            if (row.status.kind() == ProcessingStatus::Kind::lookingUp) {
                row.status = it.value();
            }
        });
    }
    m_isScanning = false;
    m_isLookingUp = false;
    m_isUpdating = false;
    Q_EMIT stateChanged();
}

void ManualModeViewModel::clearAll() {
    if (isBusy()) {
        return;
    }
    m_files.clear();
    filesReplaced();
    m_unreadableFiles.clear();
    m_unreadableItems.clear();
    m_selectedDirectory.reset();
    m_errorMessage.reset();
    m_canUndo = false;
    m_ownSessions.clear();
    Q_EMIT filesChanged();
    Q_EMIT stateChanged();
}

// ---------------------------------------------------------------------------
// Scan and dropped files

void ManualModeViewModel::chooseDirectory(const QString& folder) {
    m_selectedDirectory = folder;
    m_files.clear();
    filesReplaced();
    m_unreadableFiles.clear();
    m_unreadableItems.clear();
    m_errorMessage.reset();
    Q_EMIT filesChanged();
    Q_EMIT stateChanged();
}

void ManualModeViewModel::startScan() {
    if (!m_selectedDirectory) {
        return;
    }
    cancelAll();
    const quint64 generation = beginRun();
    m_isScanning = true;
    m_scanProgress = {};
    m_files.clear();
    filesReplaced();
    m_unreadableFiles.clear();
    m_unreadableItems.clear();
    m_errorMessage.reset();
    Q_EMIT filesChanged();
    Q_EMIT stateChanged();
    runScan(generation, m_cancel, {*m_selectedDirectory}, false, true);
}

void ManualModeViewModel::addFiles(const QStringList& paths) {
    if (isBusy()) {
        return;
    }
    cancelAll();
    const quint64 generation = beginRun();
    m_isScanning = true;
    m_scanProgress = {};
    m_errorMessage.reset();
    Q_EMIT stateChanged();
    runScan(generation, m_cancel, paths, true, false);
}

QString ManualModeViewModel::unreadableSuffix(const QString& path) const {
    const QString reason = m_unreadableItems.value(path).reason();
    return reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + QLatin1Char(')');
}

void ManualModeViewModel::setScanProgress(Progress progress) {
    m_scanProgress = progress;
    Q_EMIT progressChanged();
}

void ManualModeViewModel::runScan(quint64 generation, const CancelToken& cancel, QStringList paths,
                                  bool isDrop, bool replace) {
    QSet<QString> known;
    if (isDrop) {
        for (const MusicFile& f : m_files) {
            known.insert(cleanedAbsolute(f.url));
        }
    }
    auto scanner = m_deps.scanner;
    auto reader = m_deps.tagReader;
    m_work.post(serialLane, [this, generation, cancel, paths, isDrop, replace, known, scanner, reader] {
        QStringList urls;
        QList<FileScannerService::Unreadable> unreadable;
        std::optional<QString> failure;
        if (!isDrop) {
            try {
                urls = scanner->scanDirectory(paths.value(0), &unreadable);
            } catch (const std::exception& error) {
                failure = FileScannerService::failureText(error);
            }
        } else {
            for (const QString& path : paths) {
                if (QFileInfo(path).isDir()) {
                    try {
                        urls += scanner->scanDirectory(path, &unreadable);
                    } catch (const AppError& error) {
                        // A folder that cannot be listed is passed over and reported.
                        unreadable.append({path, error.kind() == AppError::Kind::accessDenied});
                    } catch (const std::exception&) {
                        unreadable.append({path});
                    }
                } else if (supportedExtensions().contains(QFileInfo(path).suffix().toLower())) {
                    urls.append(path);
                }
            }
            // A file already listed, or dropped twice (also inside a dropped folder), gives one row.
            QSet<QString> seen = known;
            urls.removeIf([&seen](const QString& url) {
                const QString path = cleanedAbsolute(url);
                if (seen.contains(path)) {
                    return true;
                }
                seen.insert(path);
                return false;
            });
        }
        QList<MusicFile> rows;
        if (!urls.isEmpty() && !cancel.isCancelled()) {
            const int total = int(urls.size());
            m_work.deliverIfCurrent(generation, [this, total] { setScanProgress({0, total}); });
            rows.reserve(total);
            for (int i = 0; i < total && !cancel.isCancelled(); ++i) {
                if (auto row = scanner->readFile(urls.at(i), *reader, &unreadable)) {
                    rows.append(*row);
                }
                m_work.deliverIfCurrent(generation, [this, i, total] { setScanProgress({i + 1, total}); });
            }
        }
        m_work.deliverIfCurrent(generation, [this, cancel, rows, unreadable, replace, failure] {
            finishScan(cancel, rows, unreadable, replace, failure);
        });
    });
}

void ManualModeViewModel::finishScan(const CancelToken& cancel, const QList<MusicFile>& rows,
                                     const QList<FileScannerService::Unreadable>& unreadable, bool replace,
                                     const std::optional<QString>& failure) {
    if (!cancel.isCancelled()) {
        // A scan reports its own unreadable files; a drop adds to what the list holds.
        if (replace) {
            m_unreadableFiles.clear();
            m_unreadableItems.clear();
        }
        for (const FileScannerService::Unreadable& item : unreadable) {
            if (!m_unreadableFiles.contains(item.path)) {
                m_unreadableFiles.append(item.path);
            }
            m_unreadableItems.insert(item.path, item);
        }
        if (failure) {
            m_errorMessage = failure;
        } else if (replace) {
            m_files = rows;
            filesReplaced();
            Q_EMIT filesChanged();
        } else if (!rows.isEmpty()) {
            m_files += rows;
            filesReplaced();
            Q_EMIT filesChanged();
        }
    }
    m_isScanning = false;
    Q_EMIT stateChanged();
}

// ---------------------------------------------------------------------------
// Lookup

void ManualModeViewModel::lookupSelected(const QSet<QUuid>& ids) {
    if (m_files.isEmpty() || isBusy()) {
        return;
    }
    auto run = std::make_shared<LookupRun>();
    run->generation = beginRun();
    run->cancel = m_cancel;
    m_statusBeforeLookup.clear();
    m_isLookingUp = true;
    m_errorMessage.reset();

    const auto settings = m_deps.settings();
    const int window = settings->boundedConcurrency();
    for (const MusicFile& target : m_files) {
        if (!ids.isEmpty() && !ids.contains(target.id)) {
            continue;
        }
        if (target.alreadyHasDecade(settings->decadeRules)) {
            if (const auto label = existingDecadeLabel(target.genre, settings->decadeRules)) {
                modifyFile(target.id,
                           [&](MusicFile& row) { row.status = ProcessingStatus::alreadyHasDecade(*label); });
            }
            continue;
        }
        run->entries.append(target);
    }
    m_lookupProgress = {0, int(run->entries.size())};
    Q_EMIT stateChanged();
    for (int i = 0; i < std::min(int(run->entries.size()), window); ++i) {
        startLookupEntry(run);
    }
    if (run->inFlight == 0) {
        m_isLookingUp = false;
        Q_EMIT stateChanged();
    }
}

void ManualModeViewModel::startLookupEntry(const std::shared_ptr<LookupRun>& run) {
    if (run->cancel.isCancelled() || run->next >= run->entries.size()) {
        return;
    }
    const MusicFile entry = run->entries.at(run->next++);
    modifyFile(entry.id, [this](MusicFile& row) {
        m_statusBeforeLookup.insert(row.id, row.status);
        row.status = ProcessingStatus::lookingUp();
    });
    ++run->inFlight;
    auto lookups = m_deps.lookupService;
    const SettingsSource settings = m_deps.settings;
    m_work.post(lookupLane, [this, run, entry, lookups, settings] {
        SourceFailures failures;
        const YearLookupResult result = lookups->lookup(entry, settings, run->cancel, &failures);
        m_work.deliver([this, run, id = entry.id, result, failed = failures.list()] {
            applyLookupResult(run, id, result.year, result.genre, failed);
        });
    });
}

void ManualModeViewModel::applyLookupResult(const std::shared_ptr<LookupRun>& run, const QUuid& id,
                                            const std::optional<int>& year,
                                            const std::optional<QString>& genre,
                                            const QList<SourceFailure>& failures) {
    --run->inFlight;
    if (!run->cancel.isCancelled()) {
        m_statusBeforeLookup.remove(id);
        ++run->done;
        m_lookupProgress = {run->done, int(run->entries.size())};
        modifyFile(id, [&](MusicFile& row) {
            if (year) {
                row.discoveredYear = year;
            }
            if (genre) {
                row.discoveredGenre = genre;
            }
            // A year typed meanwhile stands.
            row.status = row.manualYear ? ProcessingStatus::yearFound(*row.manualYear)
                         : year         ? ProcessingStatus::yearFound(*year)
                                        : ProcessingStatus::yearNotFound(failures);
        });
        startLookupEntry(run);
        Q_EMIT progressChanged();
    }
    if (run->inFlight == 0 && m_work.isCurrent(run->generation) && m_isLookingUp) {
        m_isLookingUp = false;
        Q_EMIT stateChanged();
    }
}

// ---------------------------------------------------------------------------
// Write and undo

void ManualModeViewModel::updateSelected(const QSet<QUuid>& ids) {
    const auto settings = m_deps.settings();
    auto run = std::make_shared<WriteRun>();
    for (const MusicFile& row : m_files) {
        if (!ids.contains(row.id)) {
            continue;
        }
        const bool hasYear = row.discoveredYear.has_value() || row.year.has_value();
        if (row.manualYear || (hasYear && !row.alreadyHasDecade(settings->decadeRules))) {
            run->rows.append(row);
        }
    }
    if (run->rows.isEmpty() || !canStartWrite() || !m_deps.gate->tryAcquire(this)) {
        return;
    }
    run->generation = beginRun();
    run->cancel = m_cancel;
    m_isUpdating = true;
    m_canUndo = false;
    m_updateProgress = {0, int(run->rows.size())};
    m_errorMessage.reset();
    run->session = m_deps.undoLog->openSession();
    m_ownSessions.insert(run->session);
    Q_EMIT stateChanged();
    startNextWrite(run);
}

void ManualModeViewModel::startNextWrite(const std::shared_ptr<WriteRun>& run) {
    if (run->cancel.isCancelled() || run->next >= run->rows.size()) {
        finishWriteRun(run);
        return;
    }
    const MusicFile row = run->rows.at(run->next++);
    ++m_writesInFlight;
    auto updater = m_deps.updateService;
    const SettingsSource settings = m_deps.settings;
    m_work.post(serialLane, [this, run, row, updater, settings] {
        const TagUpdateService::UpdateResult r = updater->updateFile(row, run->session, settings);
        m_work.deliver([this, run, row, r] {
            applyWriteResult(run, row, r.success, r.errorMessage, r.writtenGenre, r.identity);
        });
    });
}

void ManualModeViewModel::applyWriteResult(const std::shared_ptr<WriteRun>& run, const MusicFile& row,
                                           bool success, const std::optional<QString>& message,
                                           const std::optional<QString>& writtenGenre,
                                           const std::optional<FileIdentity>& identity) {
    --m_writesInFlight;
    if (m_work.isCurrent(run->generation)) {
        m_updateProgress = {run->next, int(run->rows.size())};
        Q_EMIT progressChanged();
    }
    const auto rules = m_deps.settings()->decadeRules;
    modifyFile(row.id, [&](MusicFile& f) {
        if (identity) {
            f.identity = identity; // the next write of the row expects the file as this one left it
        }
        if (!success) {
            f.status = ProcessingStatus::error(message.value_or(QStringLiteral("Unbekannter Fehler")));
        } else if (writtenGenre) {
            f.status = ProcessingStatus::updated();
            f.genre = *writtenGenre;
        } else {
            // The file already carried its label and was left as it is.
            f.status =
                ProcessingStatus::alreadyHasDecade(existingDecadeLabel(f.genre, rules).value_or(QString()));
        }
    });
    startNextWrite(run);
}

void ManualModeViewModel::finishWriteRun(const std::shared_ptr<WriteRun>& run) {
    m_deps.gate->release(this);
    m_canUndo = m_deps.undoLog->holdsUndoableSession(m_ownSessions);
    if (m_work.isCurrent(run->generation)) {
        m_isUpdating = false;
    }
    Q_EMIT stateChanged();
}

void ManualModeViewModel::undoLastWrite() {
    if (!canUndo() || !canStartWrite() || !m_deps.gate->tryAcquire(this)) {
        return;
    }
    const quint64 generation = beginRun();
    m_isUpdating = true;
    ++m_writesInFlight;
    Q_EMIT stateChanged();
    const WriteUndoManager::SessionId session = m_deps.undoLog->currentSession();
    WriteUndoManager* undo = m_deps.undoLog;
    auto writer = m_deps.updateService->writer();
    m_work.post(serialLane, [this, generation, session, undo, writer] {
        const WriteUndoManager::UndoResult result = undo->undoLastSession(*writer, session);
        m_work.deliver([this, generation, result] { applyUndoResult(generation, result); });
    });
}

void ManualModeViewModel::applyUndoResult(quint64 generation, const WriteUndoManager::UndoResult& result) {
    --m_writesInFlight;
    m_deps.gate->release(this);
    QHash<QString, QUuid> idByUrl;
    if (!result.restoredEntries.isEmpty()) {
        for (qsizetype i = m_files.size() - 1; i >= 0; --i) {
            idByUrl.insert(m_files.at(i).url, m_files.at(i).id); // the first row of a path wins
        }
    }
    for (const WriteUndoManager::UndoEntry& entry : result.restoredEntries) {
        const auto row = idByUrl.constFind(entry.url);
        if (row == idByUrl.constEnd()) {
            continue;
        }
        modifyFile(*row, [&](MusicFile& f) {
            f.genre = entry.originalGenre;
            f.identity = entry.identity;
            const std::optional<int> year = f.effectiveYear();
            f.status = year ? ProcessingStatus::yearFound(*year) : ProcessingStatus::pending();
        });
    }
    m_canUndo = false;
    if (m_work.isCurrent(generation)) {
        m_isUpdating = false;
    }
    if (result.failed > 0) {
        const QString r = QString::number(result.restored);
        const QString e = QString::number(result.failed);
        m_errorMessage =
            localizedText(r + QStringLiteral(" Dateien wiederhergestellt, ") + e + QStringLiteral(" Fehler."),
                          r + QStringLiteral(" files restored, ") + e + QStringLiteral(" errors."));
    }
    Q_EMIT stateChanged();
}
