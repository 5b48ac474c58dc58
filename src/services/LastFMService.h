#pragma once

#include "services/CancelToken.h"
#include "services/Endpoints.h"
#include "services/HttpClient.h"
#include "services/UrlQuery.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <optional>

// A genre from the tags Last.fm users gave a track or, failing that, its
// artist. Blocking and thread-safe; every failure ends in no result, nothing
// is thrown except by performRequest. The API key never appears in a console
// line or an error text.
class LastFMService {
public:
    explicit LastFMService(const Endpoints& endpoints = Endpoints(),
                           std::chrono::milliseconds requestTimeout = std::chrono::milliseconds(10000));

    std::optional<QString> lookupGenre(const QString& title, const QString& artist, const QString& apiKey,
                                       const CancelToken& cancel = CancelToken()) const;

    // The first usable tag of track.getInfo's top tags.
    std::optional<QString> fetchTrackTags(const QString& title, const QString& artist, const QString& apiKey,
                                          const CancelToken& cancel = CancelToken()) const;

    // The first usable tag of artist.getInfo.
    std::optional<QString> fetchArtistTags(const QString& artist, const QString& apiKey,
                                           const CancelToken& cancel = CancelToken()) const;

    // The API address with these query items, or no value when the base address is unusable.
    std::optional<QUrl> buildSearchURL(const UrlQuery& parameters) const;

    // GETs the address and returns the body of a 200 answer. Any other status
    // prints one console line with the status and throws
    // AppError::networkError; transport failures throw HttpError. `apiKey` is
    // scrubbed from every text and keeps the request from following redirects.
    QByteArray performRequest(const QUrl& url, const QString& apiKey,
                              const CancelToken& cancel = CancelToken()) const;

    // The 13 lower-case tag names never taken as a genre.
    static const QStringList& ignoredTags();

    const QString& baseURL() const { return m_baseURL; }

private:
    // Sends one API call and returns root[outer][inner]["tag"]; none when the
    // request fails or the answer has no such list.
    std::optional<QList<QJsonObject>> fetchTagList(const UrlQuery& parameters, const QString& apiKey,
                                                   const QString& outer, const QString& inner,
                                                   const CancelToken& cancel) const;

    QString m_baseURL;
    std::chrono::milliseconds m_timeout;
    HttpClient m_http;
};
