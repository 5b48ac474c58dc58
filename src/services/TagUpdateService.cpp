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

// Steps 1 to 5 of runSteps on one settings snapshot, without their logging
// and without the automatic mapping.
TagUpdateService::GenrePlan TagUpdateService::plannedGenre(const MusicFile& file, const SettingsSnapshot& s) {
    if (s.writeDecadeToGenre && file.alreadyHasDecade(s.decadeRules)) {
        return {std::nullopt, existingDecadeLabel(file.genre, s.decadeRules)};
    }
    const std::optional<QString> label =
        s.writeDecadeToGenre ? file.decadeLabel(s.decadeRules) : std::nullopt;
    if (s.writeDecadeToGenre && !label) {
        return {file.genre, std::nullopt};
    }
    QString base = TextUtil::trimWs(cleanGenreText(file.genre, file.format));
    if (s.writeDecadeToGenre || s.enableGenreLookup) {
        for (const QString& existing : s.decadeLabels()) {
            if (isUsableDecadeLabel(existing)) {
                base.remove(existing, Qt::CaseSensitive);
            }
        }
    }
    base = TextUtil::trimWs(base);
    QString genre;
    if (s.enableGenreLookup && file.discoveredGenre && !TextUtil::trimWs(*file.discoveredGenre).isEmpty()) {
        const QString m =
            s.applyGenreMappings ? mapGenre(*file.discoveredGenre, s.genreMappings) : *file.discoveredGenre;
        if (s.genreOverwriteExisting || base.isEmpty()) {
            genre = m;
        } else {
            const QString k = lowerTrimmed(m);
            genre = k.isEmpty() || base.toLower().contains(k) ? base : base + QLatin1Char(' ') + m;
        }
    } else {
        genre = (s.applyGenreMappings && !base.isEmpty()) ? mapGenre(base, s.genreMappings) : base;
    }
    return {label ? composeGenreWithLabel(genre, *label) : genre, std::nullopt};
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
        return runSteps(file, settings, session);
    } catch (const std::exception& error) {
        // Out of memory and the like: still a result, never an exception.
        const QString msg = QString::fromLocal8Bit(error.what());
        logError(QStringLiteral("WRITE FAILED (unbekannt): ") + QFileInfo(file.url).fileName() +
                 QStringLiteral(" \u2014 ") + msg);
        return UpdateResult{file, false, msg, std::nullopt, std::nullopt};
    }
}

TagUpdateService::UpdateResult
TagUpdateService::runSteps(const MusicFile& file, const SettingsSource& settings,
                           std::optional<WriteUndoManager::SessionId> session) const {
    const QString name = QFileInfo(file.url).fileName();
    UpdateResult result{file, false, std::nullopt, std::nullopt, std::nullopt};

    // 1. Already labelled.
    {
        const auto s = settings();
        if (s->writeDecadeToGenre && file.alreadyHasDecade(s->decadeRules)) {
            logWrite(QStringLiteral("SKIP (Jahrzehnt vorhanden): ") + name + QStringLiteral(" genre=") + q +
                     file.genre + q);
            result.success = true;
            return result;
        }
    }

    // 2. Label.
    std::optional<QString> label;
    {
        const auto s = settings();
        if (s->writeDecadeToGenre) {
            label = file.decadeLabel(s->decadeRules);
            if (!label) {
                logWrite(QStringLiteral("SKIP (kein Jahrzehnt): ") + name);
                result.errorMessage = QStringLiteral("Kein Jahrzehnt verfügbar (kein Jahr ermittelt)");
                return result;
            }
        }
    }

    // 3. Base genre: the file's genre without any decade label.
    QString base = TextUtil::trimWs(cleanGenreText(file.genre, file.format));
    {
        const auto s = settings();
        if (s->writeDecadeToGenre || s->enableGenreLookup) {
            for (const QString& existing : s->decadeLabels()) {
                if (isUsableDecadeLabel(existing)) {
                    base.remove(existing, Qt::CaseSensitive);
                }
            }
        }
        base = TextUtil::trimWs(base);
    }

    // 4. Genre. A blank discovered genre counts as none, so it never wipes the file's genre.
    QString genre;
    const bool lookupOn = settings()->enableGenreLookup;
    if (lookupOn && file.discoveredGenre && !TextUtil::trimWs(*file.discoveredGenre).isEmpty()) {
        const QString& g = *file.discoveredGenre;
        QString m = g;
        {
            const auto s = settings();
            if (s->applyGenreMappings) {
                m = mapGenre(g, s->genreMappings);
            }
        }
        {
            const auto s = settings();
            if (s->autoAddGenreMappings && s->applyGenreMappings) {
                const QString t = TextUtil::trimWs(g);
                if (!t.isEmpty() && !hasGenreMapping(t, s->genreMappings)) {
                    GenreMapping mapping;
                    mapping.id = QUuid::createUuid();
                    mapping.source = t;
                    mapping.target = t.left(1).toUpper() + t.mid(1);
                    appendAutomaticMapping(mapping);
                    logWrite(QStringLiteral("AUTO-MAPPING: ") + q + t + q + QStringLiteral(" \u2192 ") + q +
                             mapping.target + q);
                }
            }
        }
        if (settings()->genreOverwriteExisting || base.isEmpty()) {
            genre = m;
        } else {
            const QString k = lowerTrimmed(m);
            if (k.isEmpty() || base.toLower().contains(k)) {
                genre = base;
            } else {
                genre = base + QLatin1Char(' ') + m;
            }
        }
    } else {
        const auto s = settings();
        genre = (s->applyGenreMappings && !base.isEmpty()) ? mapGenre(base, s->genreMappings) : base;
    }

    // 5. New genre.
    const QString newGenre = label ? composeGenreWithLabel(genre, *label) : genre;

    // 6. Year. The file's own year is not written again, so a full date stays.
    const std::optional<int> y =
        file.manualYear ? file.manualYear : (file.discoveredYear ? file.discoveredYear : file.year);
    // Held as a TagYear from here on: an optional<int> converted at the call
    // trips GCC's maybe-uninitialized warning at -O3.
    const std::optional<TagYear> yearToWrite =
        (y && y != file.year) ? std::optional<TagYear>(TagYear(*y)) : std::nullopt;
    logWrite(QStringLiteral("WRITE: ") + name + QStringLiteral(" | genre ") + q + genre + q +
             QStringLiteral(" \u2192 ") + q + newGenre + q + QStringLiteral(" | year=") +
             (y ? QString::number(*y) : QStringLiteral("nil")) + QStringLiteral(" | format=") +
             rawValue(file.format));

    // 8 (prepared before 7, since the entry keeps what a repair overwrites).
    std::optional<QString> title;
    std::optional<QString> artist;
    if (settings()->repairBrokenTagStructure && file.wasAutoFixed) {
        title = file.title;
        artist = file.artist;
    }

    // 7. Undo entry, before the write.
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
            // The write below reports the file's trouble; the undo then writes the bare year.
        }
    }
    if (title) {
        try {
            const UniversalTagWriter::TitleArtist original =
                m_writer->readTitleAndArtist(file.url, file.format);
            entry.originalTitle = original.title;
            entry.originalArtist = original.artist;
        } catch (const std::exception&) {
            // The write below reports the file's trouble; the undo then keeps the repair.
        }
    }
    const WriteUndoManager::EntryId entryId =
        session ? m_undo->recordEntry(entry, *session) : m_undo->recordEntry(entry);

    if (title) {
        logWrite(QStringLiteral("REPAIR: title='") + *title + QStringLiteral("' artist='") + *artist +
                 QStringLiteral("' | ") + name);
    }

    // 9./10. Write.
    try {
        result.identity =
            m_writer->writeGenre(newGenre, yearToWrite, title, artist, file.url, file.format, file.identity);
    } catch (const AppError& error) {
        const QString msg = error.errorDescription();
        logError(QStringLiteral("WRITE FAILED (AppError): ") + name + QStringLiteral(" \u2014 ") + msg);
        result.errorMessage = msg;
        return result;
    } catch (const std::exception& error) {
        const QString msg = QString::fromLocal8Bit(error.what());
        logError(QStringLiteral("WRITE FAILED (unbekannt): ") + name + QStringLiteral(" \u2014 ") + msg);
        result.errorMessage = msg;
        return result;
    }
    m_undo->markWritten(entryId, result.identity);
    result.writtenGenre = newGenre;

    // 11. Read back and compare.
    std::optional<QString> readBack;
    try {
        readBack = m_writer->readGenre(file.url, file.format);
    } catch (const std::exception&) {
        readBack.reset();
    }
    logWrite(QStringLiteral("VERIFY: genre='") + readBack.value_or(QStringLiteral("nil")) +
             QStringLiteral("' | ") + name);
    const bool verified = readBack ? *readBack == newGenre : newGenre.isEmpty();
    if (!verified) {
        logError(QStringLiteral("VERIFY FAILED: ") + name + QStringLiteral(" expected='") + newGenre +
                 QStringLiteral("' read='") + readBack.value_or(QStringLiteral("nil")) + QLatin1Char('\''));
        result.errorMessage = QStringLiteral("Das geschriebene Genre konnte nicht überprüft werden");
        return result;
    }

    // 12.
    result.success = true;
    return result;
}
