#include "services/YearLookupService.h"

#include "model/AppError.h"
#include "model/AppLanguage.h"
#include "model/DebugLogger.h"
#include "model/DecadeRule.h"
#include "services/AIExchange.h"
#include "services/AIPromptBuilder.h"
#include "services/QueryTextCleaning.h"
#include "services/Redaction.h"

#include <QFileInfo>

#include <atomic>
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

// Writes an error a step drops to the debug log: the step then goes on as
// if the source had no answer. A cancel is no error and goes unlogged.
void logDropped(const QString& what, const std::exception& error) {
    const auto* appError = dynamic_cast<const AppError*>(&error);
    if (appError && appError->kind() == AppError::Kind::cancelled) {
        return;
    }
    const QString text = appError ? appError->errorDescription() : QString::fromLocal8Bit(error.what());
    logApi(what + QStringLiteral(" verworfen: ") + Redaction::text(text));
}

// A failure to reach a source or to hear from it in time.
bool isNetworkError(const std::exception& error) {
    const auto* appError = dynamic_cast<const AppError*>(&error);
    return appError && appError->kind() == AppError::Kind::networkError;
}

// MusicBrainz's answer; a failure (transport, cancellation) counts as none.
// `networkFailed` is set when MusicBrainz could not be reached or did not answer in time.
std::optional<MusicBrainzResult> askMusicBrainz(const MusicBrainzService& service, const QString& title,
                                                const QString& artist, const CancelToken& cancel,
                                                SourceFailures* failures, bool& networkFailed) {
    try {
        return service.lookup(title, artist, cancel, failures);
    } catch (const std::exception& e) {
        networkFailed = isNetworkError(e);
        logDropped(QStringLiteral("MB-Fehler"), e);
        return std::nullopt;
    }
}

// Whether the AI provider answers; one that fails to say counts as
// unavailable. Why a server that was asked did not answer goes to `why`.
bool aiIsAvailable(const AIService& ai, const CancelToken& cancel, SourceFailures& why,
                   const QString& source) {
    try {
        return ai.isAvailable(cancel, &why, source);
    } catch (const std::exception& e) {
        logDropped(QStringLiteral("KI-Verfügbarkeit"), e);
        return false;
    }
}

// Where the AI's questions of one lookup report to: the failures under the
// provider's name, and whether a network error ended the provider for this file.
struct AIReport {
    SourceFailures* failures = nullptr;
    QString source;
    std::atomic<bool> networkFailed{false};
};

// Takes down why the AI provider failed; a cancel is no failure.
void noteAIError(AIReport* report, const AppError& error) {
    if (!report || error.kind() == AppError::Kind::cancelled) {
        return;
    }
    if (error.kind() == AppError::Kind::networkError) {
        report->networkFailed = true;
    }
    // A request that got no answer is named as the other sources name theirs.
    SourceFailures::note(report->failures,
                         AIExchange::transportFailure(error, report->source)
                             .value_or(SourceFailure{report->source, SourceFailure::Reason::failed,
                                                     Redaction::text(error.text())}));
}

std::optional<QString> askAIGenre(const AIService& ai, const QString& title, const QString& artist,
                                  const std::optional<QString>& album, const CancelToken& cancel,
                                  AIReport* report = nullptr) {
    try {
        return ai.lookupGenre(title, artist, album, cancel);
    } catch (const AppError& e) {
        noteAIError(report, e);
        return std::nullopt;
    } catch (const std::exception& e) {
        logDropped(QStringLiteral("KI-Genre-Fehler"), e);
        return std::nullopt;
    }
}

std::optional<int> askAIYear(const AIService& ai, const QString& title, const QString& artist,
                             const std::optional<QString>& album, const QString& fileName,
                             const CancelToken& cancel, AIReport* report = nullptr) {
    try {
        return ai.lookupYear(title, artist, album, fileName, cancel);
    } catch (const AppError& e) {
        noteAIError(report, e);
        return std::nullopt;
    } catch (const std::exception& e) {
        logDropped(QStringLiteral("KI-Jahr-Fehler"), e);
        return std::nullopt;
    }
}

struct AIAnswer {
    std::optional<int> year;
    std::optional<QString> genre;
};

// The AI's year and, with the genre lookup on, its genre, asked side by side.
AIAnswer askAI(const AIService& ai, const QString& title, const QString& artist,
               const std::optional<QString>& album, const QString& fileName, bool withGenre,
               const CancelToken& cancel, AIReport& report) {
    if (!withGenre) {
        return {askAIYear(ai, title, artist, album, fileName, cancel, &report), std::nullopt};
    }
    // Both questions go out before either answer is awaited; each waits for
    // its own answer, and a failure of one leaves the other alone.
    std::future<std::optional<int>> year;
    std::future<std::optional<QString>> genre;
    try {
        year = std::async(std::launch::async, askAIYear, std::cref(ai), title, artist, album, fileName,
                          cancel, &report);
        genre =
            std::async(std::launch::async, askAIGenre, std::cref(ai), title, artist, album, cancel, &report);
    } catch (const std::system_error&) {
        // No thread to be had: ask what is left one after the other.
    }
    AIAnswer answer;
    answer.year = year.valid() ? year.get() : askAIYear(ai, title, artist, album, fileName, cancel, &report);
    answer.genre = genre.valid() ? genre.get() : askAIGenre(ai, title, artist, album, cancel, &report);
    return answer;
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

// What one lookup asks with, and the genre it keeps between its steps.
struct YearLookupService::Query {
    QString title;      // as cut to the query length
    QString queryTitle; // without a BPM suffix: the title asked
    QString artist;
    std::optional<QString> album;
    QString fileName;
    QString sep; // " | <file name>", the end of a step's log line
    const SettingsSource& settings;
    const CancelToken& cancel;
    SourceFailures* failures;
    std::shared_ptr<AIService> ai;
    QString aiName; // the provider's name, as the lookup started
    // False also once a network error ended the provider for this file.
    bool aiAvailable;
    // Why the provider could not be asked, told when its step comes.
    QList<SourceFailure> aiUnavailable;
    // A genre MusicBrainz found without a year; returned when nothing finds a year.
    std::optional<QString> keptGenre;
    // A network error ends MusicBrainz for this file: the retry does not ask it again.
    bool musicBrainzFailed = false;

    YearLookupResult notFound() const { return {std::nullopt, keptGenre, std::nullopt}; }
};

// Each step gives the lookup's result when it ends the lookup (with a year,
// or empty after a cancel), none to go on. After a cancel nothing more is
// asked or logged.
YearLookupResult YearLookupService::lookup(const MusicFile& file, const SettingsSource& settings,
                                           const CancelToken& cancel, SourceFailures* failures) {
    if (cancel.isCancelled()) {
        return {};
    }
    // The provider keeps the settings of this moment for the whole lookup: a
    // provider chosen meanwhile never gets this one's requests, key or model.
    const std::shared_ptr<const SettingsSnapshot> start = current(settings);
    std::shared_ptr<AIService> ai = makeAIService(fixedSettingsSource(start));
    const QString aiName = providerName(*start);
    SourceFailures unavailable;
    const bool aiAvailable = aiIsAvailable(*ai, cancel, unavailable, aiName);
    if (cancel.isCancelled()) {
        return {};
    }
    const QString title = limitQueryText(file.title);
    const QString fileName = limitQueryText(QFileInfo(file.url).fileName());
    Query query{title,
                stripBPMSuffix(title),
                limitQueryText(file.artist),
                file.album.isEmpty() ? std::nullopt : std::optional(limitQueryText(file.album)),
                fileName,
                QStringLiteral(" | ") + fileName,
                settings,
                cancel,
                failures,
                std::move(ai),
                aiName,
                aiAvailable,
                unavailable.list(),
                std::nullopt};
    if (query.queryTitle != query.title) {
        logApi(QStringLiteral("BPM entfernt: '") + query.title + QStringLiteral("'") + kArrow +
               QStringLiteral("'") + query.queryTitle + QStringLiteral("'"));
    }
    if (std::optional<YearLookupResult> result = yearFromTag(file, query)) {
        return *result;
    }
    if (std::optional<YearLookupResult> result = yearFromMusicBrainz(query, query.queryTitle, Pass::first)) {
        return *result;
    }
    if (std::optional<YearLookupResult> result = yearFromSpotify(query)) {
        return *result;
    }
    if (std::optional<YearLookupResult> result = yearFromAI(query, query.queryTitle, Pass::first)) {
        return *result;
    }
    return retryWithoutVersionSuffix(query);
}

// The file's own year tag, when it is to be used and is plausible.
std::optional<YearLookupResult> YearLookupService::yearFromTag(const MusicFile& file, Query& query) {
    if (!file.year || !current(query.settings)->useExistingYearTag) {
        return std::nullopt;
    }
    const int year = *file.year;
    if (!isPlausibleYear(year)) {
        logApi(QStringLiteral("TAG-JAHR %1 nicht plausibel, suche weiter: ").arg(year) + query.fileName);
        return std::nullopt;
    }
    logApi(QStringLiteral("TAG-JAHR: %1").arg(year) + kArrow + query.fileName);
    const std::optional<QString> genre =
        lookupGenreForTagYear(query.queryTitle, query.artist, query.album, query.fileName, query.settings,
                              *query.ai, query.aiAvailable, query.cancel);
    if (query.cancel.isCancelled()) {
        return YearLookupResult{};
    }
    return YearLookupResult{year, genre, QStringLiteral("tag")};
}

// MusicBrainz asked for `title`; a genre it finds without a year is kept.
// The retry's log lines leave out the genre.
std::optional<YearLookupResult> YearLookupService::yearFromMusicBrainz(Query& query, const QString& title,
                                                                       Pass pass) {
    if (!current(query.settings)->useMusicBrainz) {
        return std::nullopt;
    }
    const bool retry = pass == Pass::retry;
    const QString prefix = retry ? QStringLiteral("MB (retry): ") : QStringLiteral("MB: ");
    if (query.musicBrainzFailed) {
        logApi(prefix + QStringLiteral("nicht gefragt nach Netzwerkfehler") + query.sep);
        return std::nullopt;
    }
    const Stopwatch watch;
    std::optional<MusicBrainzResult> mb = askMusicBrainz(m_musicBrainz, title, query.artist, query.cancel,
                                                         query.failures, query.musicBrainzFailed);
    if (query.cancel.isCancelled()) {
        return YearLookupResult{};
    }
    if (!mb) {
        logApi(prefix + watch.ms() + kArrow + QStringLiteral("kein Ergebnis") + query.sep);
        return std::nullopt;
    }
    mb->genre = usable(mb->genre);
    const QString genreText = retry ? QString() : QStringLiteral(", Genre: ") + orNone(mb->genre);
    if (!mb->year) {
        if (mb->genre) {
            query.keptGenre = mb->genre;
        }
        logApi(prefix + watch.ms() + kArrow + QStringLiteral("kein Jahr") + genreText + query.sep);
        return std::nullopt;
    }
    logApi(prefix + watch.ms() + kArrow + QStringLiteral("Jahr %1").arg(*mb->year) + genreText + query.sep);
    const std::optional<QString> genre =
        lookupGenreFallback(mb->genre, title, query.artist, query.album, query.fileName, query.settings,
                            *query.ai, query.aiAvailable, query.cancel);
    if (query.cancel.isCancelled()) {
        return YearLookupResult{};
    }
    return YearLookupResult{mb->year, genre, QStringLiteral("musicbrainz")};
}

// Spotify; its genre is used only together with its year.
std::optional<YearLookupResult> YearLookupService::yearFromSpotify(Query& query) {
    const auto s = current(query.settings);
    if (!s->useSpotify) {
        return std::nullopt;
    }
    const Stopwatch watch;
    std::optional<SpotifyLookupResult> spotify =
        m_spotify.lookup(query.queryTitle, query.artist, s->spotifyClientId, s->spotifyClientSecret,
                         query.cancel, query.failures);
    if (query.cancel.isCancelled()) {
        return YearLookupResult{};
    }
    if (spotify) {
        spotify->genre = usable(spotify->genre);
    }
    if (!spotify || !spotify->year) {
        logApi(QStringLiteral("Spotify: ") + watch.ms() + kArrow + QStringLiteral("kein Jahr") + query.sep);
        return std::nullopt;
    }
    logApi(QStringLiteral("Spotify: ") + watch.ms() + kArrow +
           QStringLiteral("Jahr %1, Genre: ").arg(*spotify->year) + orNone(spotify->genre) + query.sep);
    if (spotify->genre) {
        return YearLookupResult{spotify->year, spotify->genre, QStringLiteral("spotify")};
    }
    const std::optional<QString> genre =
        lookupGenreFallback(std::nullopt, query.queryTitle, query.artist, query.album, query.fileName,
                            query.settings, *query.ai, query.aiAvailable, query.cancel);
    if (query.cancel.isCancelled()) {
        return YearLookupResult{};
    }
    return YearLookupResult{spotify->year, genre, QStringLiteral("spotify")};
}

// The AI provider asked for `title`; without its genre, the kept one goes
// with its year. The retry's log lines leave out provider and genre.
std::optional<YearLookupResult> YearLookupService::yearFromAI(Query& query, const QString& title, Pass pass) {
    const bool retry = pass == Pass::retry;
    const auto s = current(query.settings);
    if (!query.aiAvailable) {
        if (!retry) {
            logApi(QStringLiteral("KI-Anbieter ") + query.aiName + QStringLiteral(" nicht verfügbar"));
            for (const SourceFailure& failure : query.aiUnavailable) {
                SourceFailures::note(query.failures, failure);
            }
        }
        return std::nullopt;
    }
    const Stopwatch watch;
    AIReport report{query.failures, query.aiName};
    const AIAnswer answer = askAI(*query.ai, title, query.artist, query.album, query.fileName,
                                  s->enableGenreLookup, query.cancel, report);
    if (query.cancel.isCancelled()) {
        return YearLookupResult{};
    }
    // A provider that could not be reached is not asked again for this file.
    query.aiAvailable = !report.networkFailed;
    const QString prefix = retry ? QStringLiteral("KI (retry): ")
                                 : QStringLiteral("KI (") + query.aiName + QStringLiteral("): ");
    if (!answer.year) {
        logApi(prefix + watch.ms() + kArrow + QStringLiteral("kein Ergebnis") + query.sep);
        return std::nullopt;
    }
    const std::optional<QString> genre = answer.genre ? answer.genre : query.keptGenre;
    logApi(prefix + watch.ms() + kArrow + QStringLiteral("Jahr %1").arg(*answer.year) +
           (retry ? QString() : QStringLiteral(", Genre: ") + orNone(genre)) + query.sep);
    return YearLookupResult{answer.year, genre, QStringLiteral("ai")};
}

// MusicBrainz and the AI once more, with the version suffix removed from the title.
YearLookupResult YearLookupService::retryWithoutVersionSuffix(Query& query) {
    if (query.cancel.isCancelled()) {
        return {};
    }
    const std::optional<QString> retryTitle = stripVersionSuffix(query.queryTitle);
    if (!retryTitle) {
        return query.notFound();
    }
    logApi(QStringLiteral("RETRY mit bereinigtem Titel '") + *retryTitle + QStringLiteral("' (original: '") +
           query.title + QStringLiteral("')"));
    if (std::optional<YearLookupResult> result = yearFromMusicBrainz(query, *retryTitle, Pass::retry)) {
        return *result;
    }
    if (std::optional<YearLookupResult> result = yearFromAI(query, *retryTitle, Pass::retry)) {
        return *result;
    }
    return query.notFound();
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
    if (std::optional<QString> genre =
            spotifyThenLastFMGenre(title, artist, fileName, QString(), settings, cancel)) {
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
                                                                 const QString& fileName,
                                                                 const QString& lineTag,
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
    if (std::optional<QString> genre = spotifyThenLastFMGenre(
            title, artist, fileName, QStringLiteral(" (tag-year)"), settings, cancel)) {
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
