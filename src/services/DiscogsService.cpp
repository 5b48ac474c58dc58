#include "services/DiscogsService.h"

#include "model/Console.h"
#include "services/UrlQuery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <chrono>
#include <cmath>

namespace {

const QString kTag = QStringLiteral("[DiscogsService] ");
const QString kDash = QStringLiteral(" \u2013 ");
const QString kFor = QStringLiteral(" f\u00fcr: ");
constexpr std::chrono::milliseconds kTimeout{10000};

std::optional<QJsonObject> parseObject(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return document.object();
}

// The first element of a non-empty list made only of texts.
std::optional<QString> firstText(const QJsonValue& value) {
    if (!value.isArray()) {
        return std::nullopt;
    }
    const QJsonArray array = value.toArray();
    if (array.isEmpty()) {
        return std::nullopt;
    }
    for (const QJsonValue& element : array) {
        if (!element.isString()) {
            return std::nullopt;
        }
    }
    return array.first().toString();
}

} // namespace

DiscogsService::Credentials DiscogsService::builtInCredentials() {
    return {QStringLiteral("Pw4rTnGhzQe8LmVbXcYu"), QStringLiteral("Hq7DnLs2XvRk9MbTfWc3JpYa6GeNzUo1")};
}

DiscogsService::DiscogsService(const Endpoints& endpoints, Credentials credentials)
    : m_baseURL(endpoints.discogs), m_credentials(std::move(credentials)) {}

QByteArray DiscogsService::authorizationHeader() const {
    return "Discogs key=" + m_credentials.consumerKey.toUtf8() +
           ", secret=" + m_credentials.consumerSecret.toUtf8();
}

std::optional<qint64> DiscogsService::integerValue(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    // Whole numbers that a double holds exactly.
    constexpr double kLimit = 9007199254740992.0; // 2^53
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > kLimit) {
        return std::nullopt;
    }
    return static_cast<qint64>(number);
}

std::optional<QList<QJsonObject>> DiscogsService::parseSearchResults(const QByteArray& body) {
    const std::optional<QJsonObject> root = parseObject(body);
    if (!root) {
        return std::nullopt;
    }
    const QJsonValue results = root->value(QLatin1String("results"));
    if (!results.isArray()) {
        return std::nullopt;
    }
    QList<QJsonObject> hits;
    for (const QJsonValue& element : results.toArray()) {
        if (!element.isObject()) {
            return std::nullopt; // a list of objects or nothing at all
        }
        hits.append(element.toObject());
    }
    if (hits.isEmpty()) {
        return std::nullopt;
    }
    return hits;
}

std::optional<QString> DiscogsService::parseReleaseGenre(const QByteArray& body) {
    const std::optional<QJsonObject> root = parseObject(body);
    if (!root) {
        return std::nullopt;
    }
    if (std::optional<QString> style = firstText(root->value(QLatin1String("styles")))) {
        return style;
    }
    return firstText(root->value(QLatin1String("genres")));
}

QString DiscogsService::scrub(const QString& text) const {
    QString out = text;
    for (const QString& secret : {m_credentials.consumerKey, m_credentials.consumerSecret}) {
        if (!secret.isEmpty()) {
            out.replace(secret, QStringLiteral("[redacted]"));
        }
    }
    return out;
}

std::optional<QByteArray> DiscogsService::get(const QUrl& url, const QString& what,
                                              const CancelToken& cancel) const {
    HttpRequest request;
    request.method = QByteArrayLiteral("GET");
    request.url = url;
    request.headers = {{QByteArrayLiteral("Authorization"), authorizationHeader()},
                       {QByteArrayLiteral("User-Agent"), Endpoints::userAgentWithSite()}};
    request.timeout = kTimeout;
    request.secrets = {m_credentials.consumerKey, m_credentials.consumerSecret};
    try {
        const HttpResponse response = m_http.send(request, cancel);
        if (response.status < 200 || response.status > 299) {
            Console::line(kTag + QStringLiteral("HTTP-Fehler %1 bei %2").arg(response.status).arg(what));
            return std::nullopt;
        }
        return response.body;
    } catch (const HttpError&) {
        return std::nullopt;
    }
}

std::optional<QList<QJsonObject>> DiscogsService::searchReleases(const QString& title, const QString& artist,
                                                                 const CancelToken& cancel) const {
    UrlQuery query;
    query.add(QStringLiteral("type"), QStringLiteral("release"))
        .add(QStringLiteral("track"), title)
        .add(QStringLiteral("artist"), artist)
        .add(QStringLiteral("per_page"), QStringLiteral("5"));
    const std::optional<QUrl> url =
        UrlQuery::withQuery(m_baseURL + QStringLiteral("/database/search"), query);
    if (!url) {
        return std::nullopt;
    }
    const std::optional<QByteArray> body = get(*url, QStringLiteral("Suche"), cancel);
    if (!body) {
        return std::nullopt;
    }
    return parseSearchResults(*body);
}

std::optional<QString> DiscogsService::fetchReleaseGenre(qint64 releaseId, const CancelToken& cancel) const {
    const std::optional<QUrl> url =
        UrlQuery::parseBase(m_baseURL + QStringLiteral("/releases/") + QString::number(releaseId));
    if (!url) {
        return std::nullopt;
    }
    const std::optional<QByteArray> body =
        get(*url, QStringLiteral("Release ") + QString::number(releaseId), cancel);
    if (!body) {
        return std::nullopt;
    }
    return parseReleaseGenre(*body);
}

std::optional<QString> DiscogsService::lookupGenre(const QString& title, const QString& artist,
                                                   const CancelToken& cancel) const {
    const std::optional<QList<QJsonObject>> results = searchReleases(title, artist, cancel);
    if (cancel.isCancelled()) {
        return std::nullopt; // stopped, not "nothing found"
    }
    if (!results) {
        Console::line(scrub(kTag + QStringLiteral("Kein Ergebnis") + kFor + title + kDash + artist));
        return std::nullopt;
    }
    const QJsonObject& hit = results->first();
    if (const std::optional<qint64> id = integerValue(hit.value(QLatin1String("id")))) {
        // A failed (or cancelled) release request falls back to the hit itself.
        const std::optional<QString> genre = fetchReleaseGenre(*id, cancel);
        if (genre) {
            Console::line(scrub(kTag + QStringLiteral("Genre via Release ") + QString::number(*id) +
                                QStringLiteral(": ") + *genre + kFor + title));
            return genre;
        }
    }
    if (const std::optional<QString> style = firstText(hit.value(QLatin1String("style")))) {
        Console::line(scrub(kTag + QStringLiteral("Genre via Suche (style): ") + *style + kFor + title));
        return style;
    }
    if (const std::optional<QString> genre = firstText(hit.value(QLatin1String("genre")))) {
        Console::line(scrub(kTag + QStringLiteral("Genre via Suche (genre): ") + *genre + kFor + title));
        return genre;
    }
    Console::line(scrub(kTag + QStringLiteral("Kein Genre in Ergebnissen") + kFor + title + kDash + artist));
    return std::nullopt;
}
