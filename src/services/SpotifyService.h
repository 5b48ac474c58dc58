#pragma once

#include "services/CancelToken.h"
#include "services/Endpoints.h"
#include "services/HttpClient.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

// What a Spotify lookup found: the release year of the track's album and the
// first genre of its first artist; either may be missing.
struct SpotifyLookupResult {
    std::optional<int> year;
    std::optional<QString> genre;

    bool operator==(const SpotifyLookupResult&) const = default;
};

// The first track of a search: its album's year and its first artist's id.
struct SpotifyTrackHit {
    std::optional<int> year;
    std::optional<QString> artistId;

    bool operator==(const SpotifyTrackHit&) const = default;
};

// An access token of the client-credentials flow and the moment from which it
// is no longer used.
struct SpotifyToken {
    QString accessToken;
    std::chrono::steady_clock::time_point expiry;
};

// Asks the Spotify Web API for one track: the year of its album and the first
// genre of its first artist. The user's client id and secret are traded for an
// access token, which is kept and reused until shortly before it expires.
//
// Blocking and thread-safe: lookups may run on any number of threads at once.
// The cached token sits behind a mutex that is never held during a request;
// two lookups that both find the cache stale both fetch a token, and the one
// that finishes last is kept. The client secret and the access token never
// appear in a console line or an error text.
//
//     SpotifyService spotify(Endpoints{});
//     std::optional<SpotifyLookupResult> r =
//         spotify.lookup(title, artist, settings.spotifyClientId, settings.spotifyClientSecret, cancel);
class SpotifyService {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // The clock decides token expiry; by default the steady clock.
    explicit SpotifyService(const Endpoints& endpoints, Clock clock = {});

    // None when a credential is empty (without any request), when no token can
    // be had or when the search finds no track; otherwise the pair, even when
    // both parts are missing. Never throws. A cancelled token ends the lookup
    // at once with what it has. Why a token or the search could not be had
    // (transport, status, an unreadable token answer) is added to `failures`.
    std::optional<SpotifyLookupResult> lookup(const QString& title, const QString& artist,
                                              const QString& clientId, const QString& clientSecret,
                                              const CancelToken& cancel = CancelToken(),
                                              SourceFailures* failures = nullptr);

    // Trades the credentials for a token; on success it is also cached.
    std::optional<QString> fetchToken(const QString& clientId, const QString& clientSecret,
                                      const CancelToken& cancel = CancelToken(),
                                      SourceFailures* failures = nullptr);
    std::optional<SpotifyTrackHit> searchTrack(const QString& title, const QString& artist,
                                               const QString& token,
                                               const CancelToken& cancel = CancelToken(),
                                               SourceFailures* failures = nullptr);
    // The artist's first genre. Ids that are not made of letters and digits
    // only are refused without a request.
    std::optional<QString> fetchArtistGenre(const QString& artistId, const QString& token,
                                            const CancelToken& cancel = CancelToken());

    // The cached token while it is valid (now strictly before its expiry).
    std::optional<QString> validCachedToken() const;
    std::optional<SpotifyToken> cachedToken() const;
    // Forgets the cached token.
    void clearCachedToken();

    // Reading of the answers (pure; any bytes are accepted).
    // The token and its lifetime in seconds from a token answer; a token that
    // is empty or holds anything but visible ASCII is refused.
    static std::optional<std::pair<QString, qint64>> parseTokenResponse(const QByteArray& body);
    static std::optional<SpotifyTrackHit> parseSearchResponse(const QByteArray& body);
    static std::optional<QString> parseArtistGenre(const QByteArray& body);
    // The year of "1987-05-12", "1987-05" or "1987" when it is plausible.
    static std::optional<int> yearFromReleaseDate(const QString& releaseDate);
    // The search text "track:<title> artist:<artist>"; a colon after a letter
    // or digit in the title or artist becomes a blank, so that the user's text
    // adds no field filter of its own.
    static QString searchText(const QString& title, const QString& artist);
    // Spotify ids are base62: ASCII letters and digits, not empty.
    static bool isValidArtistId(const QString& artistId);
    // How long a token of that lifetime is used: the lifetime less a minute,
    // bounded to one day (a shorter or negative span means "this lookup only").
    static std::chrono::seconds usableLifetime(qint64 expiresIn);

private:
    std::chrono::steady_clock::time_point now() const;
    // One GET with the bearer token; the body of a 2xx answer, none otherwise.
    // A 401 drops the cached token when it is still the one that was sent.
    std::optional<QByteArray> get(const QUrl& url, const QString& token, const QString& what,
                                  const CancelToken& cancel, SourceFailures* failures = nullptr);

    const QString m_tokenURL;
    const QString m_apiURL;
    const Clock m_clock;
    const HttpClient m_http{};

    mutable std::mutex m_mutex;
    std::optional<SpotifyToken> m_token; // guarded by m_mutex
};
