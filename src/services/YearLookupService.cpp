#include "services/YearLookupService.h"

#include "model/AppError.h"
#include "model/AppLanguage.h"
#include "model/DebugLogger.h"
#include "model/DecadeRule.h"
#include "services/AIPromptBuilder.h"
#include "services/QueryTextCleaning.h"
#include "services/Redaction.h"

#include <QFileInfo>

#include <chrono>
#include <future>
#include <system_error>

namespace {

const QString kNone = QStringLiteral("–");
const QString kArrow = QStringLiteral(" → ");

void logApi(const QString& message) {
    DebugLogger::shared().log(message, LogCategory::api);
}

// The settings as they are now; the defaults should a source hand out nothing.
std::shared_ptr<const SettingsSnapshot> current(const SettingsSource& settings) {
    std::shared_ptr<const SettingsSnapshot> snapshot = settings ? settings() : nullptr;
    if (!snapshot) {
        static const auto defaults = std::make_shared<const SettingsSnapshot>(SettingsSnapshot::defaults());
        return defaults;
    }
    return snapshot;
}

// Wall time since construction in whole milliseconds, truncated.
class Stopwatch {
public:
    QString ms() const {
        const auto elapsed = std::chrono::steady_clock::now() - m_start;
        return QString::number(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) +
               QStringLiteral("ms");
    }

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// A source's genre when it is fit to be written (see AIPromptBuilder::checkedGenreName).
std::optional<QString> usable(const std::optional<QString>& genre) {
    return genre ? AIPromptBuilder::checkedGenreName(*genre) : std::nullopt;
}

QString orNone(const std::optional<QString>& genre) {
    return genre ? *genre : kNone;
}

QString providerName(const SettingsSnapshot& settings) {
    return displayName(settings.selectedProvider, settings.appLanguage);
}

// MusicBrainz's answer; a failure (transport, cancellation) counts as none.
std::optional<MusicBrainzResult> askMusicBrainz(const MusicBrainzService& service, const QString& title,
                                                const QString& artist, const CancelToken& cancel,
                                                SourceFailures* failures) {
    try {
        return service.lookup(title, artist, cancel, failures);
    } catch (...) {
        return std::nullopt;
    }
}

// Takes down why the AI provider `source` failed; a cancel is no failure.
void noteAIError(SourceFailures* failures, const QString& source, const AppError& error) {
    if (error.kind() != AppError::Kind::cancelled) {
        SourceFailures::note(failures,
                             {source, SourceFailure::Reason::failed, Redaction::text(error.text())});
    }
}

std::optional<QString> askAIGenre(const AIService& ai, const QString& title, const QString& artist,
                                  const std::optional<QString>& album, const CancelToken& cancel,
                                  SourceFailures* failures = nullptr, const QString& source = {}) {
    try {
        return ai.lookupGenre(title, artist, album, cancel);
    } catch (const AppError& e) {
        noteAIError(failures, source, e);
        return std::nullopt;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<int> askAIYear(const AIService& ai, const QString& title, const QString& artist,
                             const std::optional<QString>& album, const QString& fileName,
                             const CancelToken& cancel, SourceFailures* failures = nullptr,
                             const QString& source = {}) {
    try {
        return ai.lookupYear(title, artist, album, fileName, cancel);
    } catch (const AppError& e) {
        noteAIError(failures, source, e);
        return std::nullopt;
    } catch (...) {
        return std::nullopt;
    }
}

// "<prefix><ms>ms → "<genre>" | <file>"
QString genreLine(const QString& prefix, const Stopwatch& watch, const QString& genre,
                  const QString& fileName) {
    return prefix + watch.ms() + kArrow + QLatin1Char('"') + genre + QLatin1Char('"') +
           QStringLiteral(" | ") + fileName;
}

} // namespace

YearLookupService::YearLookupService() : YearLookupService(Endpoints()) {}

YearLookupService::YearLookupService(const Endpoints& endpoints, MusicBrainzTiming musicBrainzTiming,
                                     MusicBrainzPacer& pacer)
    : m_endpoints(endpoints), m_musicBrainz(endpoints, musicBrainzTiming, pacer), m_lastFM(endpoints),
      m_discogs(endpoints), m_spotify(endpoints) {}

std::shared_ptr<AIService> YearLookupService::makeAIService(const SettingsSource& settings) const {
    return ::makeAIService(current(settings)->selectedProvider, settings, m_endpoints);
}

YearLookupService::AIAnswer
YearLookupService::askAI(const AIService& ai, const QString& title, const QString& artist,
                         const std::optional<QString>& album, const QString& fileName, bool withGenre,
                         const CancelToken& cancel, SourceFailures* failures, const QString& source) {
    if (!withGenre) {
        return {askAIYear(ai, title, artist, album, fileName, cancel, failures, source), std::nullopt};
    }
    // Both questions go out before either answer is awaited; each waits for
    // its own answer, and a failure of one leaves the other alone.
    std::future<std::optional<int>> year;
    std::future<std::optional<QString>> genre;
    try {
        year = std::async(std::launch::async, askAIYear, std::cref(ai), title, artist, album, fileName,
                          cancel, failures, source);
        genre = std::async(std::launch::async, askAIGenre, std::cref(ai), title, artist, album, cancel,
                           failures, source);
    } catch (const std::system_error&) {
        // No thread to be had: ask what is left one after the other.
    }
    AIAnswer answer;
    answer.year =
        year.valid() ? year.get() : askAIYear(ai, title, artist, album, fileName, cancel, failures, source);
    answer.genre =
        genre.valid() ? genre.get() : askAIGenre(ai, title, artist, album, cancel, failures, source);
    return answer;
}

YearLookupResult YearLookupService::lookup(const MusicFile& file, const SettingsSource& settings,
                                           const CancelToken& cancel, SourceFailures* failures) {
    // After a cancel nothing more is asked or logged; the result is empty.
    if (cancel.isCancelled()) {
        return {};
    }
    const QString title = limitQueryText(file.title);
    const QString queryTitle = stripBPMSuffix(title);
    const QString artist = limitQueryText(file.artist);
    const std::optional<QString> album =
        file.album.isEmpty() ? std::nullopt : std::optional(limitQueryText(file.album));
    const QString fileName = limitQueryText(QFileInfo(file.url).fileName());
    const QString sep = QStringLiteral(" | ") + fileName;

    const std::shared_ptr<AIService> ai = makeAIService(settings);
    const bool aiAvailable = [&] {
        try {
            return ai->isAvailable(cancel);
        } catch (...) {
            return false;
        }
    }();
    if (cancel.isCancelled()) {
        return {};
    }

    if (queryTitle != title) {
        logApi(QStringLiteral("BPM entfernt: '") + title + QStringLiteral("'") + kArrow +
               QStringLiteral("'") + queryTitle + QStringLiteral("'"));
    }

    // 1. The file's own year tag.
    if (file.year && current(settings)->useExistingYearTag) {
        const int year = *file.year;
        if (isPlausibleYear(year)) {
            logApi(QStringLiteral("TAG-JAHR: %1").arg(year) + kArrow + fileName);
            const std::optional<QString> genre = lookupGenreForTagYear(queryTitle, artist, album, fileName,
                                                                       settings, *ai, aiAvailable, cancel);
            if (cancel.isCancelled()) {
                return {};
            }
            return {year, genre, QStringLiteral("tag")};
        }
        logApi(QStringLiteral("TAG-JAHR %1 nicht plausibel, suche weiter: ").arg(year) + fileName);
    }

    // A genre MusicBrainz found without a year; returned when nothing finds a year.
    std::optional<QString> keptGenre;

    // 2. MusicBrainz.
    if (current(settings)->useMusicBrainz) {
        const Stopwatch watch;
        std::optional<MusicBrainzResult> mb =
            askMusicBrainz(m_musicBrainz, queryTitle, artist, cancel, failures);
        if (cancel.isCancelled()) {
            return {};
        }
        if (mb) {
            mb->genre = usable(mb->genre);
        }
        if (!mb) {
            logApi(QStringLiteral("MB: ") + watch.ms() + kArrow + QStringLiteral("kein Ergebnis") + sep);
        } else if (!mb->year) {
            logApi(QStringLiteral("MB: ") + watch.ms() + kArrow + QStringLiteral("kein Jahr, Genre: ") +
                   orNone(mb->genre) + sep);
            keptGenre = mb->genre;
        } else {
            logApi(QStringLiteral("MB: ") + watch.ms() + kArrow +
                   QStringLiteral("Jahr %1, Genre: ").arg(*mb->year) + orNone(mb->genre) + sep);
            const std::optional<QString> genre = lookupGenreFallback(
                mb->genre, queryTitle, artist, album, fileName, settings, *ai, aiAvailable, cancel);
            if (cancel.isCancelled()) {
                return {};
            }
            return {mb->year, genre, QStringLiteral("musicbrainz")};
        }
    }

    // 3. Spotify; its genre is used only together with its year.
    if (const auto s = current(settings); s->useSpotify) {
        const Stopwatch watch;
        std::optional<SpotifyLookupResult> spotify = m_spotify.lookup(
            queryTitle, artist, s->spotifyClientId, s->spotifyClientSecret, cancel, failures);
        if (cancel.isCancelled()) {
            return {};
        }
        if (spotify) {
            spotify->genre = usable(spotify->genre);
        }
        if (!spotify || !spotify->year) {
            logApi(QStringLiteral("Spotify: ") + watch.ms() + kArrow + QStringLiteral("kein Jahr") + sep);
        } else {
            logApi(QStringLiteral("Spotify: ") + watch.ms() + kArrow +
                   QStringLiteral("Jahr %1, Genre: ").arg(*spotify->year) + orNone(spotify->genre) + sep);
            if (spotify->genre) {
                return {spotify->year, spotify->genre, QStringLiteral("spotify")};
            }
            const std::optional<QString> genre = lookupGenreFallback(
                std::nullopt, queryTitle, artist, album, fileName, settings, *ai, aiAvailable, cancel);
            if (cancel.isCancelled()) {
                return {};
            }
            return {spotify->year, genre, QStringLiteral("spotify")};
        }
    }

    // 4. The AI provider.
    if (!aiAvailable) {
        logApi(QStringLiteral("KI-Anbieter ") + providerName(*current(settings)) +
               QStringLiteral(" nicht verfügbar"));
    } else {
        const Stopwatch watch;
        const AIAnswer answer =
            askAI(*ai, queryTitle, artist, album, fileName, current(settings)->enableGenreLookup, cancel,
                  failures, providerName(*current(settings)));
        if (cancel.isCancelled()) {
            return {};
        }
        const QString prefix =
            QStringLiteral("KI (") + providerName(*current(settings)) + QStringLiteral("): ");
        if (!answer.year) {
            logApi(prefix + watch.ms() + kArrow + QStringLiteral("kein Ergebnis") + sep);
        } else {
            const std::optional<QString> genre = answer.genre ? answer.genre : keptGenre;
            logApi(prefix + watch.ms() + kArrow + QStringLiteral("Jahr %1, Genre: ").arg(*answer.year) +
                   orNone(genre) + sep);
            return {answer.year, genre, QStringLiteral("ai")};
        }
    }

    // 5. Once more with the version suffix removed from the title.
    if (cancel.isCancelled()) {
        return {};
    }
    const std::optional<QString> retryTitle = stripVersionSuffix(queryTitle);
    if (!retryTitle) {
        return {std::nullopt, keptGenre, std::nullopt};
    }
    logApi(QStringLiteral("RETRY mit bereinigtem Titel '") + *retryTitle + QStringLiteral("' (original: '") +
           title + QStringLiteral("')"));

    if (current(settings)->useMusicBrainz) {
        const Stopwatch watch;
        std::optional<MusicBrainzResult> mb =
            askMusicBrainz(m_musicBrainz, *retryTitle, artist, cancel, failures);
        if (cancel.isCancelled()) {
            return {};
        }
        if (mb) {
            mb->genre = usable(mb->genre);
        }
        if (!mb) {
            logApi(QStringLiteral("MB (retry): ") + watch.ms() + kArrow + QStringLiteral("kein Ergebnis") +
                   sep);
        } else if (!mb->year) {
            if (mb->genre) {
                keptGenre = mb->genre;
            }
            logApi(QStringLiteral("MB (retry): ") + watch.ms() + kArrow + QStringLiteral("kein Jahr") + sep);
        } else {
            logApi(QStringLiteral("MB (retry): ") + watch.ms() + kArrow +
                   QStringLiteral("Jahr %1").arg(*mb->year) + sep);
            const std::optional<QString> genre = lookupGenreFallback(
                mb->genre, *retryTitle, artist, album, fileName, settings, *ai, aiAvailable, cancel);
            if (cancel.isCancelled()) {
                return {};
            }
            return {mb->year, genre, QStringLiteral("musicbrainz")};
        }
    }

    if (aiAvailable) {
        const Stopwatch watch;
        const AIAnswer answer =
            askAI(*ai, *retryTitle, artist, album, fileName, current(settings)->enableGenreLookup, cancel,
                  failures, providerName(*current(settings)));
        if (cancel.isCancelled()) {
            return {};
        }
        if (!answer.year) {
            logApi(QStringLiteral("KI (retry): ") + watch.ms() + kArrow + QStringLiteral("kein Ergebnis") +
                   sep);
            return {std::nullopt, keptGenre, std::nullopt};
        }
        logApi(QStringLiteral("KI (retry): ") + watch.ms() + kArrow +
               QStringLiteral("Jahr %1").arg(*answer.year) + sep);
        return {answer.year, answer.genre ? answer.genre : keptGenre, QStringLiteral("ai")};
    }
    return {std::nullopt, keptGenre, std::nullopt};
}

std::optional<QString> YearLookupService::lookupGenreFallback(
    const std::optional<QString>& existingGenre, const QString& title, const QString& artist,
    const std::optional<QString>& album, const QString& fileName, const SettingsSource& settings,
    const AIService& aiService, bool aiAvailable, const CancelToken& cancel) {
    if (!current(settings)->enableGenreLookup) {
        return std::nullopt;
    }
    if (existingGenre) {
        return existingGenre;
    }

    if (current(settings)->useDiscogs) {
        const Stopwatch watch;
        const std::optional<QString> genre = usable(m_discogs.lookupGenre(title, artist, cancel));
        if (cancel.isCancelled()) {
            return std::nullopt;
        }
        if (genre) {
            logApi(genreLine(QStringLiteral("Discogs Genre: "), watch, *genre, fileName));
            return genre;
        }
        logApi(QStringLiteral("Discogs Genre: ") + watch.ms() + kArrow + QStringLiteral("kein Ergebnis | ") +
               fileName);
    }
    if (std::optional<QString> genre = spotifyThenLastFMGenre(title, artist, fileName, QString(), settings, cancel)) {
        return genre;
    }
    if (aiAvailable && !cancel.isCancelled()) {
        return askAIGenre(aiService, title, artist, album, cancel);
    }
    return std::nullopt;
}

// The Spotify artist genre, then the Last.fm tags: the middle of both genre
// chains. `lineTag` marks the chain in the log lines.
std::optional<QString> YearLookupService::spotifyThenLastFMGenre(const QString& title, const QString& artist,
                                                                 const QString& fileName, const QString& lineTag,
                                                                 const SettingsSource& settings,
                                                                 const CancelToken& cancel) {
    if (const auto s = current(settings); s->useSpotify) {
        const Stopwatch watch;
        const std::optional<SpotifyLookupResult> spotify =
            m_spotify.lookup(title, artist, s->spotifyClientId, s->spotifyClientSecret, cancel);
        if (const std::optional<QString> genre = usable(spotify ? spotify->genre : std::nullopt);
            genre && !cancel.isCancelled()) {
            logApi(genreLine(QStringLiteral("Spotify Genre") + lineTag + QStringLiteral(": "), watch, *genre,
                             fileName));
            return genre;
        }
    }
    if (const auto s = current(settings); s->useLastFM && !s->lastFMApiKey.isEmpty()) {
        const Stopwatch watch;
        if (const std::optional<QString> genre =
                usable(m_lastFM.lookupGenre(title, artist, s->lastFMApiKey, cancel));
            genre && !cancel.isCancelled()) {
            logApi(genreLine(QStringLiteral("Last.fm Genre") + lineTag + QStringLiteral(": "), watch, *genre,
                             fileName));
            return genre;
        }
    }
    return std::nullopt;
}

std::optional<QString> YearLookupService::lookupGenreForTagYear(
    const QString& title, const QString& artist, const std::optional<QString>& album, const QString& fileName,
    const SettingsSource& settings, const AIService& aiService, bool aiAvailable, const CancelToken& cancel) {
    if (!current(settings)->enableGenreLookup) {
        return std::nullopt;
    }

    if (current(settings)->useDiscogs) {
        const Stopwatch watch;
        if (const std::optional<QString> genre = usable(m_discogs.lookupGenre(title, artist, cancel));
            genre && !cancel.isCancelled()) {
            logApi(genreLine(QStringLiteral("Discogs Genre (tag-year): "), watch, *genre, fileName));
            return genre;
        }
    }
    if (std::optional<QString> genre = spotifyThenLastFMGenre(title, artist, fileName, QStringLiteral(" (tag-year)"), settings, cancel)) {
        return genre;
    }
    if (aiAvailable && !cancel.isCancelled()) {
        const Stopwatch watch;
        if (const std::optional<QString> genre = askAIGenre(aiService, title, artist, album, cancel);
            genre && !cancel.isCancelled()) {
            logApi(genreLine(QStringLiteral("KI Genre (tag-year): "), watch, *genre, fileName));
            return genre;
        }
    }
    return std::nullopt;
}
