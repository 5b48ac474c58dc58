#include "services/LastFMService.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "model/TextUtil.h"

#include "services/JsonValues.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

namespace {

const QString kTag = QStringLiteral("[LastFMService] ");

void print(const QString& text) {
    Console::line(kTag + text);
}

// root[outer][inner]["tag"] as a list of objects.
std::optional<QList<QJsonObject>> tagList(const QByteArray& body, const QString& outer,
                                          const QString& inner) {
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject()) {
        return std::nullopt;
    }
    const QJsonValue first = document.object().value(outer);
    if (!first.isObject()) {
        return std::nullopt;
    }
    const QJsonValue second = first.toObject().value(inner);
    if (!second.isObject()) {
        return std::nullopt;
    }
    return JsonValues::objectList(second.toObject().value(QStringLiteral("tag")));
}

// The first tag name, in order, that is a text and not ignored.
std::optional<QString> firstUsableName(const QList<QJsonObject>& tags) {
    for (const QJsonObject& tag : tags) {
        const QJsonValue name = tag.value(QStringLiteral("name"));
        if (name.isString() && !LastFMService::ignoredTags().contains(name.toString().toLower())) {
            return name.toString();
        }
    }
    return std::nullopt;
}

} // namespace

LastFMService::LastFMService(const Endpoints& endpoints, std::chrono::milliseconds requestTimeout)
    : m_baseURL(endpoints.lastFM), m_timeout(requestTimeout) {}

const QStringList& LastFMService::ignoredTags() {
    static const QStringList tags = {
        "seen live",
        "favorites",
        "favourite",
        "love",
        "awesome",
        "beautiful",
        "chill",
        "sexy",
        "classic",
        "amazing",
        "under 2000 listeners",
        "albums i own",
        "check out",
    };
    return tags;
}

std::optional<QString> LastFMService::lookupGenre(const QString& title, const QString& artist,
                                                  const QString& apiKey, const CancelToken& cancel) const {
    if (TextUtil::trimWs(apiKey).isEmpty()) {
        print(QStringLiteral("Kein API-Key konfiguriert"));
        return std::nullopt;
    }
    if (std::optional<QString> genre = fetchTrackTags(title, artist, apiKey, cancel)) {
        return genre;
    }
    if (!TextUtil::trimWs(artist).isEmpty()) {
        if (std::optional<QString> genre = fetchArtistTags(artist, apiKey, cancel)) {
            print(QStringLiteral("Genre via Artist-Tags: ") + *genre + QStringLiteral(" für: ") + title);
            return genre;
        }
    }
    print(QStringLiteral("Kein Genre gefunden für: ") + title + QStringLiteral(" \u2013 ") + artist);
    return std::nullopt;
}

std::optional<QString> LastFMService::fetchTrackTags(const QString& title, const QString& artist,
                                                     const QString& apiKey, const CancelToken& cancel) const {
    UrlQuery parameters;
    parameters.add(QStringLiteral("method"), QStringLiteral("track.getInfo"))
        .add(QStringLiteral("api_key"), apiKey)
        .add(QStringLiteral("artist"), artist)
        .add(QStringLiteral("track"), title)
        .add(QStringLiteral("format"), QStringLiteral("json"));
    const std::optional<QList<QJsonObject>> tags =
        fetchTagList(parameters, apiKey, QStringLiteral("track"), QStringLiteral("toptags"), cancel);
    if (!tags || tags->isEmpty()) {
        return std::nullopt;
    }
    const QJsonObject& first = tags->front();
    const QJsonValue firstName = first.value(QStringLiteral("name"));
    if (first.isEmpty() || !firstName.isString()) {
        return std::nullopt;
    }
    // A track whose top tag is one of these says nothing about its genre.
    static const QStringList vetoes = {"seen live", "favorites", "favourite", "love"};
    if (vetoes.contains(firstName.toString().toLower())) {
        return std::nullopt;
    }
    const std::optional<QString> genre = firstUsableName(*tags);
    if (genre) {
        print(QStringLiteral("Genre via Track-Tags: ") + *genre + QStringLiteral(" für: ") + title);
    }
    return genre;
}

std::optional<QString> LastFMService::fetchArtistTags(const QString& artist, const QString& apiKey,
                                                      const CancelToken& cancel) const {
    UrlQuery parameters;
    parameters.add(QStringLiteral("method"), QStringLiteral("artist.getInfo"))
        .add(QStringLiteral("api_key"), apiKey)
        .add(QStringLiteral("artist"), artist)
        .add(QStringLiteral("format"), QStringLiteral("json"));
    const std::optional<QList<QJsonObject>> tags =
        fetchTagList(parameters, apiKey, QStringLiteral("artist"), QStringLiteral("tags"), cancel);
    if (!tags) {
        return std::nullopt;
    }
    return firstUsableName(*tags);
}

std::optional<QList<QJsonObject>> LastFMService::fetchTagList(const UrlQuery& parameters,
                                                              const QString& apiKey, const QString& outer,
                                                              const QString& inner,
                                                              const CancelToken& cancel) const {
    const std::optional<QUrl> url = buildSearchURL(parameters);
    if (!url) {
        return std::nullopt;
    }
    QByteArray body;
    try {
        body = performRequest(*url, apiKey, cancel);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return tagList(body, outer, inner);
}

std::optional<QUrl> LastFMService::buildSearchURL(const UrlQuery& parameters) const {
    return UrlQuery::withQuery(m_baseURL, parameters);
}

QByteArray LastFMService::performRequest(const QUrl& url, const QString& apiKey,
                                         const CancelToken& cancel) const {
    HttpRequest request;
    request.url = url;
    request.headers = {{"User-Agent", Endpoints::userAgent()}};
    request.timeout = m_timeout;
    request.secrets = {apiKey};
    const HttpResponse response = m_http.send(request, cancel);
    if (response.status != 200) {
        // Error answers (unknown track, bad key, rate limit) are not tag lists.
        print(QStringLiteral("HTTP-Fehler: %1").arg(response.status));
        throw AppError::networkError(QStringLiteral("HTTP %1").arg(response.status));
    }
    return response.body;
}
