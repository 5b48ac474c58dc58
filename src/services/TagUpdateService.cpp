#include "services/TagUpdateService.h"

#include "model/AppError.h"
#include "model/AppSettings.h"
#include "model/DebugLogger.h"
#include "model/GenreMapping.h"
#include "model/TextUtil.h"
#include "services/WriteUndoManager.h"
#include "tagio/GenreNames.h"
#include "tagio/UniversalTagWriter.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QRegularExpression>
#include <QUuid>

namespace {

const QChar q(u'"');

void logWrite(const QString& message) {
    DebugLogger::shared().log(message, LogCategory::write);
}

void logError(const QString& message) {
    DebugLogger::shared().log(message, LogCategory::error);
}

bool isId3Format(AudioFormat format) {
    return format == AudioFormat::mp3 || format == AudioFormat::aiff || format == AudioFormat::aif ||
           format == AudioFormat::wav;
}

// One value of an ID3 genre text with its numeric references resolved: a bare
// number names a genre of the list, "(n)" is replaced wherever it stands.
QString resolveId3GenreValue(const QString& value) {
    static const QRegularExpression bareNumber(QStringLiteral("^\\d{1,3}$"));
    static const QRegularExpression reference(QStringLiteral("\\(\\d+\\)"));
    const QString trimmed = TextUtil::trimWs(value);
    if (bareNumber.match(trimmed).hasMatch()) {
        return genreNameForNumber(trimmed.toLongLong(), extendedGenreNames()).value_or(value);
    }
    if (reference.match(value).hasMatch()) {
        return normalizeGenre(value, extendedGenreNames());
    }
    return value;
}

QString lowerTrimmed(const QString& text) {
    return TextUtil::trimWs(text.toLower());
}

// The genre steps of a write. Its preview (plannedGenre) runs the same
// functions, so the sheet shows what the write does.

// The genre already carries a decade label: the file is left alone.
bool alreadyLabelled(const MusicFile& file, const SettingsSnapshot& s) {
    return s.writeDecadeToGenre && file.alreadyHasDecade(s.decadeRules);
}

// The label to add; none when labels are off or the file has no year.
std::optional<QString> labelToAdd(const MusicFile& file, const SettingsSnapshot& s) {
    return s.writeDecadeToGenre ? file.decadeLabel(s.decadeRules) : std::nullopt;
}

// Labels are on, but the file has no year to label.
bool lacksLabel(const std::optional<QString>& label, const SettingsSnapshot& s) {
    return s.writeDecadeToGenre && !label;
}

// The file's genre without any decade label.
QString baseGenre(const MusicFile& file, const SettingsSnapshot& s) {
    QString base = TextUtil::trimWs(TagUpdateService::cleanGenreText(file.genre, file.format));
    if (s.writeDecadeToGenre || s.enableGenreLookup) {
        for (const QString& existing : s.decadeLabels()) {
            if (isUsableDecadeLabel(existing)) {
                base.remove(existing, Qt::CaseSensitive);
            }
        }
    }
    return TextUtil::trimWs(base);
}

// The discovered genre when the genre lookup is on. A blank one counts as
// none, so it never wipes the file's genre.
std::optional<QString> discoveredGenre(const MusicFile& file, const SettingsSnapshot& s) {
    if (!s.enableGenreLookup || !file.discoveredGenre || TextUtil::trimWs(*file.discoveredGenre).isEmpty()) {
        return std::nullopt;
    }
    return file.discoveredGenre;
}

// The genre before the label: the discovered genre, mapped, replaces the base
// genre or is added to it (unless the base already holds it); without one,
// the base genre mapped.
QString genreBeforeLabel(const MusicFile& file, const SettingsSnapshot& s) {
    const QString base = baseGenre(file, s);
    const std::optional<QString> discovered = discoveredGenre(file, s);
    if (!discovered) {
        return (s.applyGenreMappings && !base.isEmpty()) ? mapGenre(base, s.genreMappings) : base;
    }
    const QString mapped = s.applyGenreMappings ? mapGenre(*discovered, s.genreMappings) : *discovered;
    if (s.genreOverwriteExisting || base.isEmpty()) {
        return mapped;
    }
    const QString key = lowerTrimmed(mapped);
    return key.isEmpty() || base.toLower().contains(key) ? base : base + QLatin1Char(' ') + mapped;
}

QString withLabel(const QString& genre, const std::optional<QString>& label) {
    return label ? composeGenreWithLabel(genre, *label) : genre;
}

// The mapping a write adds for a discovered genre that no mapping names yet,
// when the settings ask for it.
std::optional<GenreMapping> automaticMapping(const MusicFile& file, const SettingsSnapshot& s) {
    const std::optional<QString> discovered = discoveredGenre(file, s);
    if (!discovered || !s.autoAddGenreMappings || !s.applyGenreMappings) {
        return std::nullopt;
    }
    const QString source = TextUtil::trimWs(*discovered);
    if (source.isEmpty() || hasGenreMapping(source, s.genreMappings)) {
        return std::nullopt;
    }
    GenreMapping mapping;
    mapping.id = QUuid::createUuid();
    mapping.source = source;
    mapping.target = source.left(1).toUpper() + source.mid(1);
    return mapping;
}

} // namespace

TagUpdateService::TagUpdateService(std::shared_ptr<UniversalTagWriter> writer, WriteUndoManager* undo,
                                   AppSettings* mappingTarget)
    : m_writer(writer ? std::move(writer) : std::make_shared<UniversalTagWriter>()),
      m_undo(undo ? undo : &WriteUndoManager::shared()), m_mappingTarget(mappingTarget) {}

const TagUpdateService::SettingsSource& TagUpdateService::defaultSettings() {
    static const SettingsSource source = [] {
        return AppSettings::snapshot();
    };
    return source;
}

QString TagUpdateService::cleanGenreText(const QString& genre, AudioFormat format) {
    const QChar nul(u'\0');
    QString text = genre;
    while (text.endsWith(nul)) {
        text.chop(1);
    }
    QStringList values = text.split(nul, Qt::SkipEmptyParts);
    if (isId3Format(format)) {
        for (QString& value : values) {
            value = resolveId3GenreValue(value);
        }
    }
    if (values.size() <= 1) {
        return values.isEmpty() ? QString() : values.first();
    }
    QStringList kept;
    for (const QString& value : values) {
        if (!TextUtil::trimWs(value).isEmpty()) {
            kept.append(TextUtil::trimWs(value));
        }
    }
    return kept.join(QStringLiteral(" / "));
}

void TagUpdateService::appendAutomaticMapping(const GenreMapping& mapping) const {
    AppSettings* target = m_mappingTarget ? m_mappingTarget : &AppSettings::shared();
    // The settings live on the main thread; the worker does not wait for it.
    // A row added meanwhile by another file with the same genre wins.
    QMetaObject::invokeMethod(
        target,
        [target, mapping] {
            QList<GenreMapping> mappings = target->genreMappings();
            if (hasGenreMapping(mapping.source, mappings)) {
                return;
            }
            mappings.append(mapping);
            target->setGenreMappings(mappings); // saves
        },
        Qt::QueuedConnection);
}

TagUpdateService::GenrePlan TagUpdateService::plannedGenre(const MusicFile& file, const SettingsSnapshot& s) {
    if (alreadyLabelled(file, s)) {
        return {std::nullopt, existingDecadeLabel(file.genre, s.decadeRules)};
    }
    const std::optional<QString> label = labelToAdd(file, s);
    if (lacksLabel(label, s)) {
        return {file.genre, std::nullopt};
    }
    return {withLabel(genreBeforeLabel(file, s), label), std::nullopt};
}

TagUpdateService::UpdateResult TagUpdateService::updateFile(const MusicFile& file,
                                                            const SettingsSource& settings) const {
    return run(file, settings, std::nullopt);
}

TagUpdateService::UpdateResult TagUpdateService::updateFile(const MusicFile& file,
                                                            WriteUndoManager::SessionId session,
                                                            const SettingsSource& settings) const {
    return run(file, settings, session);
}

TagUpdateService::UpdateResult
TagUpdateService::run(const MusicFile& file, const SettingsSource& settings,
                      std::optional<WriteUndoManager::SessionId> session) const {
    try {
        // One snapshot for the whole file: a change made meanwhile applies
        // from the next file on.
        const std::shared_ptr<const SettingsSnapshot> snapshot = settings();
        return update(file, *snapshot, session);
    } catch (const std::exception& error) {
        // Out of memory and the like: still a result, never an exception.
        const QString msg = QString::fromLocal8Bit(error.what());
        logError(QStringLiteral("WRITE FAILED (unbekannt): ") + QFileInfo(file.url).fileName() +
                 QStringLiteral(" \u2014 ") + msg);
        return UpdateResult{file, false, msg, std::nullopt, std::nullopt};
    }
}

TagUpdateService::UpdateResult
TagUpdateService::update(const MusicFile& file, const SettingsSnapshot& s,
                         std::optional<WriteUndoManager::SessionId> session) const {
    const QString name = QFileInfo(file.url).fileName();
    UpdateResult result{file, false, std::nullopt, std::nullopt, std::nullopt};

    if (alreadyLabelled(file, s)) {
        logWrite(QStringLiteral("SKIP (Jahrzehnt vorhanden): ") + name + QStringLiteral(" genre=") + q +
                 file.genre + q);
        result.success = true;
        return result;
    }
    const std::optional<QString> label = labelToAdd(file, s);
    if (lacksLabel(label, s)) {
        logWrite(QStringLiteral("SKIP (kein Jahrzehnt): ") + name);
        result.errorMessage = QStringLiteral("Kein Jahrzehnt verfügbar (kein Jahr ermittelt)");
        return result;
    }
    if (const std::optional<GenreMapping> mapping = automaticMapping(file, s)) {
        appendAutomaticMapping(*mapping);
        logWrite(QStringLiteral("AUTO-MAPPING: ") + q + mapping->source + q + QStringLiteral(" \u2192 ") + q +
                 mapping->target + q);
    }
    const QString genre = genreBeforeLabel(file, s);
    const QString newGenre = withLabel(genre, label);

    // The file's own year is not written again, so a full date stays.
    const std::optional<int> year = file.effectiveYear();
    // Held as a TagYear from here on: an optional<int> converted at the call
    // trips GCC's maybe-uninitialized warning at -O3.
    const std::optional<TagYear> yearToWrite =
        (year && year != file.year) ? std::optional<TagYear>(TagYear(*year)) : std::nullopt;
    logWrite(QStringLiteral("WRITE: ") + name + QStringLiteral(" | genre ") + q + genre + q +
             QStringLiteral(" \u2192 ") + q + newGenre + q + QStringLiteral(" | year=") +
             (year ? QString::number(*year) : QStringLiteral("nil")) + QStringLiteral(" | format=") +
             rawValue(file.format));

    std::optional<TagRepair> repair;
    if (s.repairBrokenTagStructure && file.wasAutoFixed) {
        repair = TagRepair{file.title, file.artist};
    }
    const WriteUndoManager::EntryId entryId = recordUndoEntry(file, yearToWrite, repair, session);
    if (repair) {
        logWrite(QStringLiteral("REPAIR: title='") + repair->title + QStringLiteral("' artist='") +
                 repair->artist + QStringLiteral("' | ") + name);
    }

    if (!writeTags(file, newGenre, yearToWrite, repair, result)) {
        return result;
    }
    m_undo->markWritten(entryId, result.identity);
    result.writtenGenre = newGenre;
    if (!genreReadsBack(file, newGenre)) {
        result.errorMessage = QStringLiteral("Das geschriebene Genre konnte nicht überprüft werden");
        return result;
    }
    result.success = true;
    return result;
}

// Records what the write will overwrite, before it does.
WriteUndoManager::EntryId
TagUpdateService::recordUndoEntry(const MusicFile& file, const std::optional<TagYear>& yearToWrite,
                                  const std::optional<TagRepair>& repair,
                                  std::optional<WriteUndoManager::SessionId> session) const {
    WriteUndoManager::UndoEntry entry;
    entry.url = file.url;
    entry.format = file.format;
    entry.originalGenre = file.genre;
    entry.originalYear = file.year;
    entry.yearWritten = yearToWrite.has_value();
    // The date text is recorded whatever the reader made of it: one it refused
    // ("2099") gives no year, and the undo must still put it back.
    if (yearToWrite) {
        try {
            entry.originalDateText = m_writer->readDateText(file.url, file.format);
            entry.hadNoDate = !entry.originalDateText && !file.year;
        } catch (const std::exception&) {
            // The write reports the file's trouble; the undo then writes the bare year.
        }
    }
    if (repair) {
        try {
            const UniversalTagWriter::TitleArtist original =
                m_writer->readTitleAndArtist(file.url, file.format);
            entry.originalTitle = original.title;
            entry.originalArtist = original.artist;
        } catch (const std::exception&) {
            // The write reports the file's trouble; the undo then keeps the repair.
        }
    }
    return session ? m_undo->recordEntry(entry, *session) : m_undo->recordEntry(entry);
}

// Writes genre, year and repair: true with result.identity set, or false with
// result.errorMessage set.
bool TagUpdateService::writeTags(const MusicFile& file, const QString& genre,
                                 const std::optional<TagYear>& yearToWrite,
                                 const std::optional<TagRepair>& repair, UpdateResult& result) const {
    const QString name = QFileInfo(file.url).fileName();
    const std::optional<QString> title = repair ? std::optional<QString>(repair->title) : std::nullopt;
    const std::optional<QString> artist = repair ? std::optional<QString>(repair->artist) : std::nullopt;
    try {
        result.identity =
            m_writer->writeGenre(genre, yearToWrite, title, artist, file.url, file.format, file.identity);
        return true;
    } catch (const AppError& error) {
        const QString msg = error.errorDescription();
        logError(QStringLiteral("WRITE FAILED (AppError): ") + name + QStringLiteral(" \u2014 ") + msg);
        result.errorMessage = msg;
    } catch (const std::exception& error) {
        const QString msg = QString::fromLocal8Bit(error.what());
        logError(QStringLiteral("WRITE FAILED (unbekannt): ") + name + QStringLiteral(" \u2014 ") + msg);
        result.errorMessage = msg;
    }
    return false;
}

// Reads the genre back: it must be the one written (none for an empty one).
bool TagUpdateService::genreReadsBack(const MusicFile& file, const QString& genre) const {
    const QString name = QFileInfo(file.url).fileName();
    std::optional<QString> readBack;
    try {
        readBack = m_writer->readGenre(file.url, file.format);
    } catch (const std::exception&) {
        readBack.reset();
    }
    logWrite(QStringLiteral("VERIFY: genre='") + readBack.value_or(QStringLiteral("nil")) +
             QStringLiteral("' | ") + name);
    const bool verified = readBack ? *readBack == genre : genre.isEmpty();
    if (!verified) {
        logError(QStringLiteral("VERIFY FAILED: ") + name + QStringLiteral(" expected='") + genre +
                 QStringLiteral("' read='") + readBack.value_or(QStringLiteral("nil")) + QLatin1Char('\''));
    }
    return verified;
}
