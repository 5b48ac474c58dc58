#pragma once

#include "model/MusicFile.h"
#include "services/AIService.h"
#include "services/AIServiceFactory.h"
#include "services/CancelToken.h"
#include "services/DiscogsService.h"
#include "services/Endpoints.h"
#include "services/LastFMService.h"
#include "services/MusicBrainzPacer.h"
#include "services/MusicBrainzService.h"
#include "services/SpotifyService.h"

#include <QString>

#include <memory>
#include <optional>

// The outcome of one lookup. `source` ("tag", "musicbrainz", "spotify" or
// "ai") is present exactly when `year` is; `genre` may come without a year.
struct YearLookupResult {
    std::optional<int> year;
    std::optional<QString> genre;
    std::optional<QString> source;

    bool operator==(const YearLookupResult&) const = default;
};

// Finds the first release year of a track, the genre that goes with it and the
// source of the year: the file's own year tag, MusicBrainz, Spotify and the AI
// provider chosen in the settings, in this order, then MusicBrainz and the AI
// once more with a version suffix ("- Radio Edit", "(Remastered)") removed from
// the title. Every step is written to the debug log (category api, German).
//
// Blocking and thread-safe: lookups run on worker threads, several at once on
// one object; the four sources it owns are thread-safe themselves and nothing
// else is shared between lookups. Each mode keeps its own object, so the two
// modes never share a Spotify token.
//
// Settings are read from `settings()` at the moment a step needs them, so a
// change made while a lookup runs is seen by its next step; only the AI
// provider keeps the settings of the lookup's start (provider, key, model,
// address and time-out).
//
//     YearLookupService lookups;
//     YearLookupResult r = lookups.lookup(file, sharedSettingsSource(), cancel);
class YearLookupService {
public:
    // The sources with the real services' addresses, MusicBrainz with its
    // waits of 1.1 s and 2 s and the process-wide request pacing.
    YearLookupService();
    // The same with other addresses, waits or pacing (tests).
    explicit YearLookupService(const Endpoints& endpoints, MusicBrainzTiming musicBrainzTiming = {},
                               MusicBrainzPacer& pacer = MusicBrainzPacer::shared());

    YearLookupService(const YearLookupService&) = delete;
    YearLookupService& operator=(const YearLookupService&) = delete;

    // Never throws: a failing source counts as a source without an answer,
    // and why it failed is added to `failures` (MusicBrainz, Spotify and the
    // AI provider as year sources, the AI also when it could not be reached
    // to be asked; a cancel is no failure). An error caught and dropped on
    // the way is named in the debug log. A source that could not be reached
    // or did not answer in time is not asked again by the same lookup.
    // Title, artist, album and file name are cut to maxQueryTextLength
    // characters first; a genre from any source that fails
    // AIPromptBuilder::checkedGenreName counts as none. Cancelling the token
    // ends requests and waits in flight at once; the lookup then returns an
    // empty result without asking or logging anything more.
    YearLookupResult lookup(const MusicFile& file, const SettingsSource& settings = sharedSettingsSource(),
                            const CancelToken& cancel = CancelToken(), SourceFailures* failures = nullptr);

    // The genre for a year found by MusicBrainz or Spotify: `existingGenre`
    // when there is one, else Discogs, Spotify, Last.fm and the AI in turn.
    // None whenever the genre lookup is switched off. Never throws.
    std::optional<QString> lookupGenreFallback(const std::optional<QString>& existingGenre,
                                               const QString& title, const QString& artist,
                                               const std::optional<QString>& album, const QString& fileName,
                                               const SettingsSource& settings, const AIService& aiService,
                                               bool aiAvailable, const CancelToken& cancel = CancelToken());

    // The genre for a year taken from the file's own tag: Discogs, Spotify,
    // Last.fm and the AI in turn. None whenever the genre lookup is switched
    // off. Never throws.
    std::optional<QString> lookupGenreForTagYear(const QString& title, const QString& artist,
                                                 const std::optional<QString>& album, const QString& fileName,
                                                 const SettingsSource& settings, const AIService& aiService,
                                                 bool aiAvailable, const CancelToken& cancel = CancelToken());

    // A new provider object for the provider selected in the settings (read
    // once, now), for one lookup. Cannot fail.
    std::shared_ptr<AIService> makeAIService(const SettingsSource& settings) const;

    LastFMService& lastFM() { return m_lastFM; }
    DiscogsService& discogs() { return m_discogs; }
    SpotifyService& spotify() { return m_spotify; }

private:
    struct Query;
    enum class Pass { first, retry };
    // The steps of lookup, in their order.
    std::optional<YearLookupResult> yearFromTag(const MusicFile& file, Query& query);
    std::optional<YearLookupResult> yearFromMusicBrainz(Query& query, const QString& title, Pass pass);
    std::optional<YearLookupResult> yearFromSpotify(Query& query);
    std::optional<YearLookupResult> yearFromAI(Query& query, const QString& title, Pass pass);
    YearLookupResult retryWithoutVersionSuffix(Query& query);

    std::optional<QString> spotifyThenLastFMGenre(const QString& title, const QString& artist,
                                                  const QString& fileName, const QString& lineTag,
                                                  const SettingsSource& settings, const CancelToken& cancel);

    const Endpoints m_endpoints;
    MusicBrainzService m_musicBrainz;
    LastFMService m_lastFM;
    DiscogsService m_discogs;
    SpotifyService m_spotify;
};
