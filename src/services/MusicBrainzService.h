#pragma once

#include "services/CancelToken.h"
#include "services/Endpoints.h"
#include "services/HttpClient.h"
#include "services/MusicBrainzPacer.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

// What a MusicBrainz lookup found: the earliest plausible release year and
// the most-counted tag (spelled as the answer spells it).
struct MusicBrainzResult {
    std::optional<int> year;
    std::optional<QString> genre;

    bool operator==(const MusicBrainzResult&) const = default;
};

// The waits of MusicBrainzService; tests shorten them to milliseconds.
struct MusicBrainzTiming {
    // Wait before the first query of a lookup and before the title-only repeat.
    std::chrono::milliseconds rateLimitDelay{1100};
    // Wait after a 429 or a 5xx before the same request is sent again.
    std::chrono::milliseconds retryDelay{2000};
    // Requests per query, the first included.
    int maxRetries = 2;
    // Deadline of one request.
    std::chrono::milliseconds requestTimeout{10000};
};

// The MusicBrainz recording search. Blocking and thread-safe: several lookups
// may run at once from worker threads; every request first takes its turn at
// the process-wide MusicBrainzPacer.
class MusicBrainzService {
public:
    using Timing = MusicBrainzTiming;

    explicit MusicBrainzService(const Endpoints& endpoints = Endpoints(), Timing timing = Timing(),
                                MusicBrainzPacer& pacer = MusicBrainzPacer::shared());

    // Looks up title and artist (artist may be empty); with an artist and no
    // year or genre found, asks once more with the title alone.
    // Throws AppError: cancelled() when cancelled during a wait or while
    // queued at the pacer; networkError(description) for transport failures
    // and time-outs, after which nothing more is asked. Every failure, also a
    // status that gives an empty result and an answer that is no search
    // answer, is added to `failures`.
    MusicBrainzResult lookup(const QString& title, const QString& artist,
                             const CancelToken& cancel = CancelToken(),
                             SourceFailures* failures = nullptr) const;

    // One query. What the server asks to be sent again (a 429 or a 5xx) is
    // sent again after retryDelay, up to maxRetries requests in all. A network
    // error (a time-out, a name that does not resolve, a refused connection, a
    // failed TLS check) ends the query at once: a silent server would only
    // make the user wait once more.
    MusicBrainzResult performRequest(const QString& title, const std::optional<QString>& artist,
                                     const CancelToken& cancel = CancelToken(),
                                     SourceFailures* failures = nullptr) const;

    // The search address, or no value when the base address is unusable.
    std::optional<QUrl> buildSearchURL(const QString& title, const std::optional<QString>& artist) const;

    // Reads a search answer; never throws.
    static MusicBrainzResult parseRecordings(const QByteArray& body);

    // The text inside a quoted search phrase: backslashes and double quotes escaped.
    static QString escapePhrase(const QString& text);

    const QString& baseURL() const { return m_baseURL; }
    const QByteArray& userAgent() const { return m_userAgent; }

private:
    QString m_baseURL;
    QByteArray m_userAgent;
    Timing m_timing;
    MusicBrainzPacer& m_pacer;
    HttpClient m_http;
};
