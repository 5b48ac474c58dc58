#pragma once

#include "services/CancelToken.h"
#include "services/Endpoints.h"
#include "services/HttpClient.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// Finds a genre for a track in the Discogs database: the first release hit for
// title and artist, its styles before its genres, read from the full release
// record when the hit has a numeric id and from the hit itself otherwise.
//
// The application identifies itself to Discogs with its own consumer key and
// secret; neither ever appears in a console line or an error text.
//
// Blocking and thread-safe: the object holds no state that changes, so any
// number of threads may call it at once. Nothing is cached between calls.
//
//     DiscogsService discogs(Endpoints{});
//     std::optional<QString> genre = discogs.lookupGenre(title, artist, cancel);
class DiscogsService {
public:
    struct Credentials {
        QString consumerKey;
        QString consumerSecret;
    };

    // The application's own consumer key and secret.
    static Credentials builtInCredentials();

    explicit DiscogsService(const Endpoints& endpoints, Credentials credentials = builtInCredentials());

    // The genre of the first hit, or none. Never throws; a failing request
    // counts as no answer. A cancelled token ends the lookup at once.
    std::optional<QString> lookupGenre(const QString& title, const QString& artist,
                                       const CancelToken& cancel = CancelToken()) const;

    // The hits of a release search (at most five), or none when the request or
    // the answer fails or there is no hit.
    std::optional<QList<QJsonObject>> searchReleases(const QString& title, const QString& artist,
                                                     const CancelToken& cancel = CancelToken()) const;

    // The first style of a release, else its first genre, else none.
    std::optional<QString> fetchReleaseGenre(qint64 releaseId,
                                             const CancelToken& cancel = CancelToken()) const;

    // Reading of the two answers (pure; any bytes are accepted).
    // `results` when it is a non-empty list of objects.
    static std::optional<QList<QJsonObject>> parseSearchResults(const QByteArray& body);
    // The first of `styles`, else the first of `genres` (each a non-empty list of texts).
    static std::optional<QString> parseReleaseGenre(const QByteArray& body);
    // The value as a whole number when it is one (not a boolean, not a fraction).
    static std::optional<qint64> integerValue(const QJsonValue& value);

    // "Discogs key=<key>, secret=<secret>".
    QByteArray authorizationHeader() const;

private:
    // One GET with the fixed headers. The body of a 2xx answer; none (after a
    // console line with the status) for any other status or a failed request.
    std::optional<QByteArray> get(const QUrl& url, const QString& what, const CancelToken& cancel) const;
    // The text with the consumer key and secret masked.
    QString scrub(const QString& text) const;

    const QString m_baseURL;
    const Credentials m_credentials;
    const HttpClient m_http{};
};
