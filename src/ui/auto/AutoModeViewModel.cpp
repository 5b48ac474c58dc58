#include "ui/auto/AutoModeViewModel.h"

#include "model/AppError.h"
#include "model/AppSettings.h"
#include "model/DebugLogger.h"
#include "services/AIServiceFactory.h"
#include "services/FileScannerService.h"
#include "services/TagUpdateService.h"
#include "services/WriteSessionGate.h"
#include "services/WriteUndoManager.h"
#include "services/YearLookupService.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/UniversalTagWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QString fileName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

// Tag texts go into single debug lines: a line break in a tag must not split
// or forge a line.
QString escaped(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    out.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    out.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return out;
}

QString quoted(const QString& text) {
    return QLatin1Char('"') + escaped(text) + QLatin1Char('"');
}

// A log line with the reason after it, when there is one.
QString withReason(const QString& line, const QString& reason) {
    return reason.isEmpty() ? line : line + QStringLiteral(" – ") + reason;
}

// The closing line of a run: the counters as they stand.
QString summaryLine(const AutoModeViewModel::Statistics& s) {
    return localizedText("Fertig: ", "Done: ") + QString::number(s.updated) +
           localizedText(" aktualisiert, ", " updated, ") + QString::number(s.skipped) +
           localizedText(" übersprungen, ", " skipped, ") + QString::number(s.problems) +
           localizedText(" Probleme", " problems");
}

QString orNil(const std::optional<int>& value) {
    return value ? QString::number(*value) : QStringLiteral("nil");
}

QString orNil(const std::optional<QString>& value) {
    return value ? escaped(*value) : QStringLiteral("nil");
}

} // namespace

struct AutoModeViewModel::Run {
    quint64 generation = 0;
    QString folder;
    JobContext context;
    QStringList urls;
    int width = 1;
    int cursor = 0;
    int inFlight = 0;
    int handled = 0;
    int unreadable = 0; // handled files that could not be read
    // The sources whose failure the log has told already: once per run each.
    QSet<QString> failedSources;
    Statistics statistics; // the run's own counters, also once it no longer publishes
    bool ended = false;
};

AutoModeViewModel::AutoModeViewModel(QObject* parent) : AutoModeViewModel(Dependencies{}, parent) {}

AutoModeViewModel::AutoModeViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), m_deps(std::move(dependencies)) {
    m_deps.fillDefaults();
    connect(m_deps.gate, &WriteSessionGate::changed, this, &AutoModeViewModel::gateChanged);
    m_lastCanStart = canStart();
}

AutoModeViewModel::~AutoModeViewModel() {
    if (m_run) {
        m_run->context.cancel.cancel();
    }
    m_resolvedWrite.cancel();
    m_work.waitForDone();
    // A run or undo cut off by the quit never reaches its end step.
    disconnect(m_deps.gate, nullptr, this, nullptr);
    releaseGate();
}

bool AutoModeViewModel::canStart() const {
    return !m_selectedDirectory.isEmpty() && !m_isRunning && !gateHeld();
}

double AutoModeViewModel::progressFraction() const {
    if (m_progress.total < 1) {
        return 0.0;
    }
    return double(m_progress.current) / double(m_progress.total);
}

QString AutoModeViewModel::phaseText() const {
    switch (m_phase) {
    case ProcessingPhase::idle:
        return {};
    case ProcessingPhase::scanning:
        return localizedText("Scanne Verzeichnis …", "Scanning directory …");
    case ProcessingPhase::processing:
        return localizedText("Lese & verarbeite …", "Reading & processing …");
    case ProcessingPhase::done:
        return m_wasCancelled ? localizedText("Abgebrochen", "Cancelled") : localizedText("Fertig", "Done");
    }
    return {};
}

double AutoModeViewModel::overallFraction() const {
    switch (m_phase) {
    case ProcessingPhase::idle:
        return 0.0;
    case ProcessingPhase::scanning:
        return 0.02;
    case ProcessingPhase::processing:
        return progressFraction() * 0.95 + 0.05;
    case ProcessingPhase::done:
        // A cancelled run shows how far it got, not a full bar.
        return m_wasCancelled ? progressFraction() : 1.0;
    }
    return 0.0;
}

bool AutoModeViewModel::endedSuccessfully() const {
    return !m_wasCancelled && m_failureLine.isEmpty() && m_statistics.problems == 0 &&
           m_problemFiles.isEmpty();
}

QString AutoModeViewModel::completionTitle() const {
    if (m_wasCancelled) {
        return localizedText("Verarbeitung abgebrochen.", "Processing cancelled.");
    }
    if (!m_failureLine.isEmpty()) {
        return m_failureLine;
    }
    return endedSuccessfully()
               ? localizedText("Verarbeitung erfolgreich abgeschlossen", "Processing completed successfully")
               : localizedText("Verarbeitung abgeschlossen – mit Problemen",
                               "Processing complete – with problems");
}

QString AutoModeViewModel::positionPrefix(int index, int total) {
    return QString::asprintf("%04d/%04d", index + 1, total);
}

// ---------------------------------------------------------------------------
// Published state

void AutoModeViewModel::setRunning(bool value) {
    if (m_isRunning != value) {
        m_isRunning = value;
        Q_EMIT isRunningChanged();
    }
    updateCanStart();
}

void AutoModeViewModel::setFinished(bool value) {
    if (m_isFinished != value) {
        m_isFinished = value;
        Q_EMIT isFinishedChanged();
    }
}

void AutoModeViewModel::setPhase(ProcessingPhase value) {
    if (m_phase != value) {
        m_phase = value;
        Q_EMIT phaseChanged();
    }
}

void AutoModeViewModel::setProgress(Progress value) {
    if (!(m_progress == value)) {
        m_progress = value;
        Q_EMIT progressChanged();
    }
}

void AutoModeViewModel::setCurrentFile(const QString& value) {
    if (m_currentFile != value) {
        m_currentFile = value;
        Q_EMIT currentFileChanged();
    }
}

void AutoModeViewModel::setStatistics(const Statistics& value) {
    if (!(m_statistics == value)) {
        m_statistics = value;
        Q_EMIT statisticsChanged();
    }
}

void AutoModeViewModel::setCanUndo(bool value) {
    if (m_canUndo != value) {
        m_canUndo = value;
        Q_EMIT canUndoChanged();
    }
}

void AutoModeViewModel::updateCanStart() {
    const bool now = canStart();
    if (now != m_lastCanStart) {
        m_lastCanStart = now;
        Q_EMIT canStartChanged();
    }
}

void AutoModeViewModel::setProblemFiles(const QList<MusicFile>& files) {
    m_problemFiles = files;
    Q_EMIT problemFilesChanged();
}

void AutoModeViewModel::setShowProblemResolution(bool show) {
    if (m_showProblemResolution != show) {
        m_showProblemResolution = show;
        Q_EMIT showProblemResolutionChanged();
    }
}

void AutoModeViewModel::appendLog(const QString& message, LogKind kind) {
    const LogEntry entry{QUuid::createUuid(), QDateTime::currentDateTime(), message, kind};
    m_log.append(entry);
    int dropped = 0;
    while (m_log.size() > maxLogEntries) {
        m_log.removeFirst();
        ++dropped;
    }
    Q_EMIT logEntryAppended(entry, dropped);
    Q_EMIT logChanged();
}

void AutoModeViewModel::clearRunState() {
    if (!m_log.isEmpty()) {
        m_log.clear();
        Q_EMIT logCleared();
        Q_EMIT logChanged();
    }
    if (!m_problemFiles.isEmpty()) {
        setProblemFiles({});
    }
    setStatistics({});
    setProgress({});
    setCurrentFile({});
}

// ---------------------------------------------------------------------------
// Folder, start, cancel

void AutoModeViewModel::chooseDirectory() {
    if (!m_deps.chooseFolder || m_isRunning) {
        return;
    }
    if (const std::optional<QString> folder = m_deps.chooseFolder(); folder && !folder->isEmpty()) {
        selectDirectory(*folder);
    }
}

void AutoModeViewModel::selectDirectory(const QString& folder) {
    // A run going on would lose its screen and never end on it.
    if (m_isRunning) {
        return;
    }
    // A run still winding down after a cancel no longer belongs to what the screen shows.
    m_work.nextGeneration();
    m_selectedDirectory = folder;
    Q_EMIT selectedDirectoryChanged();
    m_wasCancelled = false;
    m_failureLine.clear();
    setFinished(false);
    clearRunState();
    updateCanStart();
}

void AutoModeViewModel::startProcessing() {
    if (!canStart() || !tryAcquireGate()) {
        return;
    }
    m_work.nextGeneration();
    setRunning(true);
    m_wasCancelled = false;
    m_failureLine.clear();
    setFinished(false);
    setCanUndo(false);
    setPhase(ProcessingPhase::idle);
    clearRunState();

    auto run = std::make_shared<Run>();
    run->generation = m_work.generation();
    run->folder = m_selectedDirectory;
    run->context = JobContext{m_deps, CancelToken(), 0};
    m_run = run;
    beginRun(run);
}

void AutoModeViewModel::gateChanged() {
    updateCanStart();
    Q_EMIT writesBlockedChanged();
    if (m_canUndo && !m_isRunning && !gateHeld() && !m_deps.undoLog->holdsUndoableSession(m_ownSessions)) {
        // Another write session has replaced the one this mode could undo.
        setCanUndo(false);
    }
}

void AutoModeViewModel::cancelProcessing() {
    if (m_run) {
        m_run->context.cancel.cancel();
    }
    m_resolvedWrite.cancel();
    setRunning(false);
    appendLog(localizedText("Verarbeitung abgebrochen.", "Processing cancelled."), LogKind::info);
}

bool AutoModeViewModel::publishes(const std::shared_ptr<Run>& run) const {
    return m_work.isCurrent(run->generation);
}

// ---------------------------------------------------------------------------
// The run

void AutoModeViewModel::beginRun(const std::shared_ptr<Run>& run) {
    const QString folderName = fileName(QDir::cleanPath(run->folder));
    appendLog(localizedText("Starte Verarbeitung: ", "Starting processing: ") + folderName, LogKind::info);
    setPhase(ProcessingPhase::scanning);
    appendLog(localizedText("Scanne Verzeichnis…", "Scanning directory…"), LogKind::info);

    m_work.post([this, run, scanner = m_deps.scanner] {
        QStringList urls;
        QList<FileScannerService::Unreadable> unreadableFolders;
        QString error;
        try {
            urls = scanner->scanDirectory(run->folder, &unreadableFolders);
        } catch (const std::exception& e) {
            error = FileScannerService::failureText(e);
        }
        m_work.deliver([this, run, urls, unreadableFolders, error] {
            scanFinished(run, urls, unreadableFolders, error);
        });
    });
}

void AutoModeViewModel::scanFinished(const std::shared_ptr<Run>& run, const QStringList& urls,
                                     const QList<FileScannerService::Unreadable>& unreadableFolders,
                                     const QString& error) {
    if (!publishes(run)) {
        // Superseded while scanning (after a cancel): end quietly.
        run->ended = true;
        releaseGate();
        return;
    }
    if (!error.isEmpty()) {
        m_failureLine = localizedText("Fehler: ", "Error: ") + error;
        appendLog(m_failureLine, LogKind::error);
        finishEarly(run);
        return;
    }
    // Folders the scan could not enter: their files are not in the run.
    const QString root = QDir::cleanPath(run->folder);
    for (const FileScannerService::Unreadable& folder : unreadableFolders) {
        const QString shown = QDir(root).relativeFilePath(folder.path);
        appendLog(withReason(localizedText("Ordner nicht lesbar: ", "Folder could not be read: ") + shown,
                             folder.reason()),
                  LogKind::error);
    }
    run->urls = urls;
    const int total = int(urls.size());
    if (total == 0) {
        m_failureLine = localizedText("Keine Audiodateien gefunden.", "No audio files found.");
        appendLog(m_failureLine, LogKind::error);
        setPhase(ProcessingPhase::done);
        finishEarly(run);
        return;
    }
    run->width = m_deps.settings()->boundedConcurrency();
    m_concurrency = run->width;
    appendLog(
        localizedText("Gefunden: ", "Found: ") + QString::number(total) +
            localizedText(" Audiodateien. Starte Verarbeitung (", " audio files. Starting processing (") +
            QString::number(run->width) + localizedText(" gleichzeitig)…", " concurrent)…"),
        LogKind::info);
    Statistics statistics;
    statistics.total = total;
    setStatistics(statistics);
    run->statistics = statistics;
    m_deps.debugLog->logSessionStart(QDir(run->folder).absolutePath(), total);
    setPhase(ProcessingPhase::processing);
    setProgress({0, total});

    run->context.session = m_deps.undoLog->openSession();
    m_ownSessions.insert(run->context.session);
    m_sessionStarts.insert(run->context.session, QDateTime::currentDateTime());
    m_latestRunSession = run->context.session;

    for (int i = 0; i < std::min(run->width, total); ++i) {
        if (run->context.cancel.isCancelled()) {
            break;
        }
        submitNext(run);
    }
    if (run->inFlight == 0) {
        finishRun(run);
    }
}

void AutoModeViewModel::finishEarly(const std::shared_ptr<Run>& run) {
    run->ended = true;
    m_wasCancelled = run->context.cancel.isCancelled();
    setRunning(false);
    setFinished(true);
    releaseGate();
    // The folder could not be worked on; an earlier session may still be undone.
    setCanUndo(m_deps.undoLog->holdsUndoableSession(m_ownSessions));
}

void AutoModeViewModel::submitNext(const std::shared_ptr<Run>& run) {
    const int index = run->cursor++;
    ++run->inFlight;
    const QString url = run->urls.at(index);
    const int total = int(run->urls.size());
    m_work.post([this, run, context = run->context, url, index, total] {
        ProcessingTaskResult result = processFile(context, url, index, total);
        m_work.deliver([this, run, result = std::move(result)] { resultArrived(run, result); });
    });
}

void AutoModeViewModel::resultArrived(const std::shared_ptr<Run>& run, const ProcessingTaskResult& result) {
    --run->inFlight;
    const bool cancelled = run->context.cancel.isCancelled();
    if (publishes(run) && !cancelled) {
        ++run->handled;
        setProgress({run->handled, int(run->urls.size())});
        setCurrentFile(fileName(result.url));
        handleResult(result);
        if (result.outcome.kind == Outcome::Kind::loadFailed) {
            ++run->unreadable;
        }
        for (const SourceFailure& failure : result.failures) {
            if (!run->failedSources.contains(failure.source)) {
                run->failedSources.insert(failure.source);
                appendLog(failure.text(), LogKind::error);
            }
        }
        run->statistics = m_statistics;
        if (run->cursor < run->urls.size()) {
            submitNext(run);
            return;
        }
    } else if (!cancelled && run->cursor < run->urls.size()) {
        // Superseded runs have been cancelled; this keeps the window honest anyway.
        submitNext(run);
        return;
    }
    if (run->inFlight == 0) {
        finishRun(run);
    }
}

void AutoModeViewModel::finishRun(const std::shared_ptr<Run>& run) {
    if (run->ended) {
        return;
    }
    run->ended = true;
    const bool cancelled = run->context.cancel.isCancelled();
    const Statistics s = run->statistics;
    if (publishes(run)) {
        // Only the files whose results were handled count: after a cancel
        // that is fewer than the run's files.
        setProgress({run->handled, int(run->urls.size())});
        setCurrentFile({});
        setPhase(ProcessingPhase::done);
        // Every job of the run has ended, so every write it began has landed.
        setCanUndo(m_deps.undoLog->holdsUndoableSession(m_ownSessions));
    }
    m_deps.debugLog->logSessionEnd(s.updated, s.skipped, s.problems);
    if (publishes(run)) {
        if (cancelled) {
            appendLog(localizedText("Verarbeitung abgebrochen.", "Processing cancelled."), LogKind::info);
        } else {
            if (run->unreadable > 0) {
                const QString count = QString::number(run->unreadable);
                appendLog(localizedText(count + QStringLiteral(" Datei(en) konnten nicht gelesen werden."),
                                        count + QStringLiteral(" file(s) could not be read.")),
                          LogKind::error);
            }
            appendLog(summaryLine(s), LogKind::info);
        }
        m_wasCancelled = cancelled;
        setRunning(false);
        setFinished(true);
    }
    if (m_run == run) {
        m_run.reset();
    }
    releaseGate();
}

// ---------------------------------------------------------------------------
// One file

AutoModeViewModel::ProcessingTaskResult
AutoModeViewModel::processFile(const JobContext& context, const QString& url, int index, int total) {
    const QString prefix = QLatin1Char('[') + positionPrefix(index, total) + QStringLiteral("] ");
    const QString name = escaped(fileName(url));
    DebugLogger& debug = *context.debugLog;
    ProcessingTaskResult result{index, url, std::nullopt, {}, {}};

    debug.log(prefix + QStringLiteral("LOAD: ") + name, LogCategory::file);
    QList<FileScannerService::Unreadable> unreadable;
    std::optional<MusicFile> read = context.scanner->readFile(url, *context.tagReader, &unreadable);
    if (!read) {
        debug.log(prefix + QStringLiteral("LOAD FAILED: ") + name, LogCategory::error);
        result.outcome = {Outcome::Kind::loadFailed, unreadable.value(0).reason()};
        return result;
    }
    MusicFile file = std::move(*read);
    debug.log(prefix + QStringLiteral("LOADED: format=") + rawValue(file.format) + QStringLiteral(" title=") +
                  quoted(file.title) + QStringLiteral(" artist=") + quoted(file.artist) +
                  QStringLiteral(" year=") + orNil(file.year) + QStringLiteral(" genre=") +
                  quoted(file.genre),
              LogCategory::file);

    const QList<DecadeRule> rules = context.settings()->decadeRules;
    if (file.alreadyHasDecade(rules)) {
        const QString label = existingDecadeLabel(file.genre, rules).value_or(QStringLiteral("?"));
        debug.log(prefix + QStringLiteral("SKIP: Jahrzehnt ") + quoted(label) +
                      QStringLiteral(" bereits vorhanden"),
                  LogCategory::file);
        result.file = file;
        result.outcome = {Outcome::Kind::skipped, label};
        return result;
    }

    debug.log(prefix + QStringLiteral("LOOKUP START: ") + quoted(file.title) + QStringLiteral(" – ") +
                  quoted(file.artist),
              LogCategory::api);
    SourceFailures failures;
    const YearLookupResult found =
        context.lookupService->lookup(file, context.settings, context.cancel, &failures);
    result.failures = failures.list();
    debug.log(prefix + QStringLiteral("LOOKUP END: year=") + orNil(found.year) + QStringLiteral(" genre=") +
                  orNil(found.genre) + QStringLiteral(" source=") + orNil(found.source),
              LogCategory::api);
    if (!found.year) {
        file.status = ProcessingStatus::yearNotFound(result.failures);
        result.file = file;
        result.outcome = {Outcome::Kind::yearNotFound, {}};
        return result;
    }
    file.discoveredYear = found.year;
    if (found.genre) {
        file.discoveredGenre = found.genre;
    }
    file.status = ProcessingStatus::yearFound(*found.year);
    result.file = file;

    // A lookup cut short by a cancel may lack the genre it would have found:
    // after a cancel no write begins.
    if (context.cancel.isCancelled()) {
        result.outcome = {Outcome::Kind::notWritten, {}};
        return result;
    }
    const TagUpdateService::UpdateResult update =
        context.updateService->updateFile(file, context.session, context.settings);
    if (!update.success) {
        const QString message =
            update.errorMessage.value_or(localizedText("Unbekannter Fehler", "Unknown error"));
        debug.log(prefix + QStringLiteral("DONE: WRITE ERROR — ") + escaped(message), LogCategory::error);
        result.file->status = ProcessingStatus::error(message);
        result.outcome = {Outcome::Kind::writeFailed, message};
        return result;
    }
    if (update.writtenGenre) {
        debug.log(prefix + QStringLiteral("DONE: updated → ") + quoted(*update.writtenGenre),
                  LogCategory::file);
        result.outcome = {Outcome::Kind::updated, *update.writtenGenre};
        return result;
    }
    debug.log(prefix + QStringLiteral("DONE: skipped (bereits aktuell)"), LogCategory::file);
    result.outcome = {Outcome::Kind::alreadyUpToDate, {}};
    return result;
}

void AutoModeViewModel::handleResult(const ProcessingTaskResult& result) {
    const QString name = fileName(result.url);
    Statistics s = m_statistics;
    const QString& text = result.outcome.text;
    bool isProblem = false;
    switch (result.outcome.kind) {
    case Outcome::Kind::loadFailed:
        ++s.problems;
        appendLog(withReason(localizedText("Lesefehler: ", "Read error: ") + name, text), LogKind::error);
        break;
    case Outcome::Kind::yearNotFound:
        ++s.problems;
        isProblem = true;
        appendLog(localizedText("Jahr nicht gefunden: ", "Year not found: ") + name, LogKind::error);
        break;
    case Outcome::Kind::writeFailed:
        ++s.problems;
        isProblem = true;
        appendLog(localizedText("Fehler: ", "Error: ") + name + QStringLiteral(" – ") + text, LogKind::error);
        break;
    case Outcome::Kind::skipped:
        ++s.skipped;
        appendLog(localizedText("Übersprungen: ", "Skipped: ") + name +
                      localizedText(" – Jahrzehnt-Label \"", " – decade label \"") + text +
                      localizedText("\" bereits vorhanden", "\" already present"),
                  LogKind::skipped);
        break;
    case Outcome::Kind::alreadyUpToDate:
        ++s.skipped;
        appendLog(localizedText("Übersprungen: ", "Skipped: ") + name +
                      localizedText(" – bereits aktuell", " – already up to date"),
                  LogKind::skipped);
        break;
    case Outcome::Kind::updated: {
        ++s.updated;
        const QString shown = existingDecadeLabel(text, m_deps.settings()->decadeRules).value_or(text);
        appendLog(localizedText("Aktualisiert: ", "Updated: ") + name + QStringLiteral(" → ") + shown,
                  LogKind::success);
        break;
    }
    case Outcome::Kind::notWritten:
        // Only made after a cancel, whose results are dropped.
        return;
    }
    setStatistics(s);
    if (isProblem && result.file && m_problemFiles.size() < maxProblemFiles) {
        MusicFile file = *result.file;
        if (result.outcome.kind == Outcome::Kind::writeFailed) {
            file.status = ProcessingStatus::error(text);
        }
        m_problemFiles.append(file);
        Q_EMIT problemFilesChanged();
    }
}

// ---------------------------------------------------------------------------
// Undo

void AutoModeViewModel::undoLastWrite() {
    if (!m_canUndo || m_isRunning || m_undoInFlight || gateHeld()) {
        return;
    }
    // The log may have moved on since the run ended.
    if (!m_deps.undoLog->holdsUndoableSession(m_ownSessions)) {
        setCanUndo(false);
        return;
    }
    if (!tryAcquireGate()) {
        return;
    }
    // Taken before returning, so a second click finds the undo running.
    m_undoInFlight = true;
    setRunning(true);
    const quint64 generation = m_work.generation();
    m_work.post([this, generation, undo = m_deps.undoLog, update = m_deps.updateService,
                 session = m_deps.undoLog->currentSession()] {
        const WriteUndoManager::UndoResult r = undo->undoLastSession(*update->writer(), session);
        m_work.deliver([this, generation, restored = r.restored, failed = r.failed] {
            undoFinished(generation, restored, failed);
        });
    });
}

void AutoModeViewModel::undoFinished(quint64 generation, int restored, int failed) {
    m_undoInFlight = false;
    if (m_work.isCurrent(generation)) {
        setCanUndo(false);
        setRunning(false);
        QString line = localizedText("Rückgängig: ", "Undo: ") + QString::number(restored) +
                       localizedText(" Dateien wiederhergestellt", " files restored");
        if (failed >= 1) {
            line += QStringLiteral(", ") + QString::number(failed) + localizedText(" Fehler", " errors");
        }
        appendLog(line + QLatin1Char('.'), failed >= 1 ? LogKind::error : LogKind::info);
    }
    releaseGate();
}

// ---------------------------------------------------------------------------
// Years from the problem sheet

void AutoModeViewModel::updateResolvedFiles(const QList<MusicFile>& files) {
    setShowProblemResolution(false);
    QList<MusicFile> toWrite;
    std::copy_if(files.begin(), files.end(), std::back_inserter(toWrite),
                 [](const MusicFile& file) { return file.effectiveYear().has_value(); });
    if (toWrite.isEmpty()) {
        return;
    }
    if (m_isRunning || m_undoInFlight || !tryAcquireGate()) {
        appendLog(localizedText("Nicht geschrieben: ein anderer Schreibvorgang läuft. Die Jahre bleiben in "
                                "der Problemliste.",
                                "Not written: another write is running. The years stay in the problem list."),
                  LogKind::error);
        return;
    }
    setRunning(true);
    appendLog(localizedText("Schreibe ", "Writing ") + QString::number(toWrite.size()) +
                  localizedText(" Dateien aus der Problemliste…", " files from the problem list…"),
              LogKind::info);
    m_resolvedWrite = CancelToken();
    JobContext context{m_deps, m_resolvedWrite, m_deps.undoLog->openSession()};
    m_ownSessions.insert(context.session);
    // A write run of its own: Undo names it like a run once a later run wrote nothing.
    m_sessionStarts.insert(context.session, QDateTime::currentDateTime());
    m_latestRunSession = context.session;
    const quint64 generation = m_work.generation();
    m_work.post([this, generation, context, toWrite] {
        QList<ProcessingTaskResult> results;
        for (const MusicFile& file : toWrite) {
            // After a cancel the files not yet written keep their years in the list.
            if (context.cancel.isCancelled()) {
                break;
            }
            ProcessingTaskResult result{int(results.size()), file.url, file, {}, {}};
            const TagUpdateService::UpdateResult update =
                context.updateService->updateFile(file, context.session, context.settings);
            if (!update.success) {
                result.outcome = {Outcome::Kind::writeFailed, update.errorMessage.value_or(localizedText(
                                                                  "Unbekannter Fehler", "Unknown error"))};
            } else if (update.writtenGenre) {
                result.outcome = {Outcome::Kind::updated, *update.writtenGenre};
            } else {
                result.outcome = {Outcome::Kind::alreadyUpToDate, {}};
            }
            results.append(result);
        }
        m_work.deliver([this, generation, results, cancelled = context.cancel.isCancelled()] {
            resolvedFilesWritten(generation, results, cancelled);
        });
    });
}

void AutoModeViewModel::resolvedFilesWritten(quint64 generation, const QList<ProcessingTaskResult>& results,
                                             bool cancelled) {
    // A run started meanwhile (after a cancel) owns the screen: it only waited for the gate.
    if (!m_work.isCurrent(generation)) {
        releaseGate();
        return;
    }
    // Every file leaves the list and its problem count; a failed write
    // comes back through handleResult with its message.
    QSet<QUuid> written;
    for (const ProcessingTaskResult& result : results) {
        written.insert(result.file->id);
    }
    QList<MusicFile> remaining = m_problemFiles;
    remaining.removeIf([&](const MusicFile& file) { return written.contains(file.id); });
    setProblemFiles(remaining);
    for (const ProcessingTaskResult& result : results) {
        Statistics s = m_statistics;
        s.problems = std::max(0, s.problems - 1);
        setStatistics(s);
        handleResult(result);
    }
    appendLog(summaryLine(m_statistics), LogKind::info);
    if (cancelled != m_wasCancelled) {
        // The completion panel tells how this write ended, as the log did.
        m_wasCancelled = cancelled;
        Q_EMIT isFinishedChanged();
    }
    setRunning(false);
    setCanUndo(m_deps.undoLog->holdsUndoableSession(m_ownSessions));
    releaseGate();
}

// ---------------------------------------------------------------------------
// Undo session and write gate

AutoModeViewModel::UndoTarget AutoModeViewModel::undoTarget() const {
    UndoTarget target;
    if (!m_deps.undoLog->holdsUndoableSession(m_ownSessions)) {
        return target;
    }
    const WriteUndoManager::SessionId current = m_deps.undoLog->currentSession();
    QSet<QString> files;
    for (const WriteUndoManager::UndoEntry& entry : m_deps.undoLog->entries()) {
        if (entry.written) {
            files.insert(entry.url);
        }
    }
    target.files = int(files.size());
    target.runStarted = m_sessionStarts.value(current);
    target.latestRun = current == m_latestRunSession || !m_sessionStarts.contains(current);
    return target;
}

bool AutoModeViewModel::gateHeld() const {
    return m_deps.gate->holder() != nullptr;
}

bool AutoModeViewModel::gateHeldByOther() const {
    return m_deps.gate->isHeldByOther(this);
}

bool AutoModeViewModel::tryAcquireGate() {
    // Held by this view model's own run or undo still counts as taken.
    if (m_holdsGate || !m_deps.gate->tryAcquire(this)) {
        return false;
    }
    m_holdsGate = true;
    return true;
}

void AutoModeViewModel::releaseGate() {
    if (m_holdsGate) {
        m_holdsGate = false;
        m_deps.gate->release(this);
    }
}
