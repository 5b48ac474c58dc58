#include "services/SpotifyService.h"

#include "model/Console.h"
#include "model/DecadeRule.h"
#include "services/JsonValues.h"
#include "services/UrlQuery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

#include <cmath>

namespace {

const QString kTag = QStringLiteral("[SpotifyService] ");
const QString kSource = QStringLiteral("Spotify");

// The answer, or none after a transport failure (noted unless it was a cancellation).
std::optional<HttpResponse> send(const HttpClient& http, const HttpRequest& request, const CancelToken& cancel,
                                 SourceFailures* failures) {
    try {
        return http.send(request, cancel);
    } catch (const HttpError& error) {
        if (error.kind() != HttpError::Kind::cancelled) {
            SourceFailures::note(failures, error.sourceFailure(kSource));
        }
        return std::nullopt;
    }
}

// An answer whose status does not serve: "HTTP-Fehler <status> bei <what>", and the status noted.
void noteRefusal(SourceFailures* failures, int status, const QString& what) {
    Console::line(kTag + QStringLiteral("HTTP-Fehler %1 bei %2").arg(status).arg(what));
    SourceFailures::note(failures, {kSource, SourceFailure::Reason::httpStatus, QString::number(status)});
}
const QString kDash = QStringLiteral("\u2013");
constexpr std::chrono::milliseconds kTimeout{10000};
constexpr qint64 kExpiryMarginSeconds = 60;
constexpr qint64 kMaxLifetimeSeconds = 24 * 60 * 60;

// The text with every secret masked.
QString scrub(QString text, std::initializer_list<QString> secrets) {
    for (const QString& secret : secrets) {
        if (!secret.isEmpty()) {
            text.replace(secret, QStringLiteral("[redacted]"));
        }
    }
    return text;
}

// The token goes into a header line: visible ASCII only, so that a broken
// answer cannot add header lines of its own.
bool isHeaderSafeToken(const QString& token) {
    if (token.isEmpty()) {
        return false;
    }
    for (const QChar c : token) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7E) {
            return false;
        }
    }
    return true;
}

bool isSuccess(int status) {
    return status >= 200 && status <= 299;
}

} // namespace

SpotifyService::SpotifyService(const Endpoints& endpoints, Clock clock)
    : m_tokenURL(endpoints.spotifyToken), m_apiURL(endpoints.spotifyAPI), m_clock(std::move(clock)) {}

std::chrono::steady_clock::time_point SpotifyService::now() const {
    return m_clock ? m_clock() : std::chrono::steady_clock::now();
}

// --- answers ---------------------------------------------------------------

std::optional<std::pair<QString, qint64>> SpotifyService::parseTokenResponse(const QByteArray& body) {
    const std::optional<QJsonObject> root = JsonValues::parseObject(body);
    if (!root) {
        return std::nullopt;
    }
    const QJsonValue token = root->value(QLatin1String("access_token"));
    const std::optional<qint64> expiresIn = JsonValues::wholeNumber(root->value(QLatin1String("expires_in")));
    if (!token.isString() || !expiresIn || !isHeaderSafeToken(token.toString())) {
        return std::nullopt;
    }
    return std::make_pair(token.toString(), *expiresIn);
}

std::optional<SpotifyTrackHit> SpotifyService::parseSearchResponse(const QByteArray& body) {
    const std::optional<QJsonObject> root = JsonValues::parseObject(body);
    if (!root) {
        return std::nullopt;
    }
    const QJsonValue tracks = root->value(QLatin1String("tracks"));
    if (!tracks.isObject()) {
        return std::nullopt;
    }
    const std::optional<QList<QJsonObject>> items =
        JsonValues::objectList(tracks.toObject().value(QLatin1String("items")));
    if (!items || items->isEmpty()) {
        return std::nullopt;
    }
    const QJsonObject& item = items->first();

    SpotifyTrackHit hit;
    const QJsonValue album = item.value(QLatin1String("album"));
    if (album.isObject()) {
        const QJsonValue date = album.toObject().value(QLatin1String("release_date"));
        if (date.isString()) {
            hit.year = yearFromReleaseDate(date.toString());
        }
    }
    const std::optional<QList<QJsonObject>> artists =
        JsonValues::objectList(item.value(QLatin1String("artists")));
    if (artists && !artists->isEmpty()) {
        const QJsonValue id = artists->first().value(QLatin1String("id"));
        if (id.isString()) {
            hit.artistId = id.toString();
        }
    }
    return hit;
}

std::optional<QString> SpotifyService::parseArtistGenre(const QByteArray& body) {
    const std::optional<QJsonObject> root = JsonValues::parseObject(body);
    if (!root) {
        return std::nullopt;
    }
    return JsonValues::firstText(root->value(QLatin1String("genres")));
}

std::optional<int> SpotifyService::yearFromReleaseDate(const QString& releaseDate) {
    const QStringList pieces = releaseDate.split(QLatin1Char('-'), Qt::SkipEmptyParts);
    if (pieces.isEmpty()) {
        return std::nullopt;
    }
    QStringView digits(pieces.first());
    if (digits.startsWith(QLatin1Char('+'))) {
        digits = digits.mid(1);
    }
    // Decimal digits only; more than nine cannot be a plausible year anyway.
    if (digits.isEmpty() || digits.size() > 9) {
        return std::nullopt;
    }
    int year = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return std::nullopt;
        }
        year = year * 10 + (c.unicode() - '0');
    }
    if (!isPlausibleYear(year)) {
        return std::nullopt;
    }
    return year;
}

bool SpotifyService::isValidArtistId(const QString& artistId) {
    if (artistId.isEmpty()) {
        return false;
    }
    for (const QChar c : artistId) {
        const bool alnum = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                           (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
        if (!alnum) {
            return false;
        }
    }
    return true;
}

std::chrono::seconds SpotifyService::usableLifetime(qint64 expiresIn) {
    const qint64 bounded = std::clamp<qint64>(expiresIn, -kMaxLifetimeSeconds, kMaxLifetimeSeconds);
    return std::chrono::seconds(bounded - kExpiryMarginSeconds);
}

// --- token cache -----------------------------------------------------------

std::optional<QString> SpotifyService::validCachedToken() const {
    const auto at = now();
    std::lock_guard lock(m_mutex);
    if (m_token && at < m_token->expiry) {
        return m_token->accessToken;
    }
    return std::nullopt;
}

std::optional<SpotifyToken> SpotifyService::cachedToken() const {
    std::lock_guard lock(m_mutex);
    return m_token;
}

void SpotifyService::clearCachedToken() {
    std::lock_guard lock(m_mutex);
    m_token.reset();
}

// --- requests --------------------------------------------------------------

std::optional<QString> SpotifyService::fetchToken(const QString& clientId, const QString& clientSecret,
                                                  const CancelToken& cancel, SourceFailures* failures) {
    const std::optional<QUrl> url = UrlQuery::parseBase(m_tokenURL);
    if (!url) {
        return std::nullopt;
    }
    HttpRequest request;
    request.method = QByteArrayLiteral("POST");
    request.url = *url;
    // No User-Agent on this request.
    request.headers = {
        {QByteArrayLiteral("Authorization"),
         "Basic " + (clientId + QLatin1Char(':') + clientSecret).toUtf8().toBase64()},
        {QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/x-www-form-urlencoded")}};
    request.body = QByteArrayLiteral("grant_type=client_credentials");
    request.timeout = kTimeout;
    request.secrets = {clientSecret};

    const std::optional<HttpResponse> response = send(m_http, request, cancel, failures);
    if (!response) {
        return std::nullopt;
    }
    if (response->status != 200) {
        noteRefusal(failures, response->status, QStringLiteral("Token"));
        return std::nullopt;
    }
    const std::optional<std::pair<QString, qint64>> parsed = parseTokenResponse(response->body);
    if (!parsed) {
        SourceFailures::note(failures, {kSource, SourceFailure::Reason::unreadableAnswer, {}});
        return std::nullopt;
    }
    const auto expiry = now() + usableLifetime(parsed->second);
    {
        std::lock_guard lock(m_mutex);
        m_token = SpotifyToken{parsed->first, expiry};
    }
    return parsed->first;
}

std::optional<QByteArray> SpotifyService::get(const QUrl& url, const QString& token, const QString& what,
                                              const CancelToken& cancel, SourceFailures* failures) {
    HttpRequest request;
    request.method = QByteArrayLiteral("GET");
    request.url = url;
    request.headers = {{QByteArrayLiteral("Authorization"), "Bearer " + token.toUtf8()},
                       {QByteArrayLiteral("User-Agent"), Endpoints::userAgentWithSite()}};
    request.timeout = kTimeout;
    request.secrets = {token};

    const std::optional<HttpResponse> response = send(m_http, request, cancel, failures);
    if (!response) {
        return std::nullopt;
    }
    if (isSuccess(response->status)) {
        return response->body;
    }
    noteRefusal(failures, response->status, what);
    if (response->status == 401) {
        // The token was refused: the next lookup fetches a new one. A token
        // that another lookup has stored meanwhile is kept.
        std::lock_guard lock(m_mutex);
        if (m_token && m_token->accessToken == token) {
            m_token.reset();
        }
    }
    return std::nullopt;
}

std::optional<SpotifyTrackHit> SpotifyService::searchTrack(const QString& title, const QString& artist,
                                                           const QString& token, const CancelToken& cancel,
                                                           SourceFailures* failures) {
    UrlQuery query;
    query.add(QStringLiteral("q"), searchText(title, artist))
        .add(QStringLiteral("type"), QStringLiteral("track"))
        .add(QStringLiteral("limit"), QStringLiteral("1"));
    const std::optional<QUrl> url = UrlQuery::withQuery(m_apiURL + QStringLiteral("/search"), query);
    if (!url) {
        return std::nullopt;
    }
    const std::optional<QByteArray> body = get(*url, token, QStringLiteral("Suche"), cancel, failures);
    if (!body) {
        return std::nullopt;
    }
    return parseSearchResponse(*body);
}

std::optional<QString> SpotifyService::fetchArtistGenre(const QString& artistId, const QString& token,
                                                        const CancelToken& cancel) {
    // The id goes into the path: only a plain base62 id is sent.
    if (!isValidArtistId(artistId)) {
        return std::nullopt;
    }
    const std::optional<QUrl> url = UrlQuery::parseBase(m_apiURL + QStringLiteral("/artists/") + artistId);
    if (!url) {
        return std::nullopt;
    }
    const std::optional<QByteArray> body = get(*url, token, QStringLiteral("K\u00fcnstler"), cancel);
    if (!body) {
        return std::nullopt;
    }
    return parseArtistGenre(*body);
}

QString SpotifyService::searchText(const QString& title, const QString& artist) {
    // "word:" in the user's text would be read as a field filter
    // ("Blue year:1950-1959"); a blank in place of the colon keeps the words.
    const auto plain = [](QString text) {
        for (qsizetype i = 1; i < text.size(); ++i) {
            if (text.at(i) == QLatin1Char(':') && text.at(i - 1).isLetterOrNumber()) {
                text[i] = QLatin1Char(' ');
            }
        }
        return text;
    };
    return QStringLiteral("track:") + plain(title) + QStringLiteral(" artist:") + plain(artist);
}

// --- lookup ----------------------------------------------------------------

std::optional<SpotifyLookupResult>
SpotifyService::lookup(const QString& title, const QString& artist, const QString& clientId,
                       const QString& clientSecret, const CancelToken& cancel, SourceFailures* failures) {
    if (clientId.isEmpty() || clientSecret.isEmpty() || cancel.isCancelled()) {
        return std::nullopt;
    }

    std::optional<QString> token = validCachedToken();
    if (!token) {
        token = fetchToken(clientId, clientSecret, cancel, failures);
        if (cancel.isCancelled()) {
            return std::nullopt; // stopped, not a credential problem
        }
        if (!token) {
            Console::line(kTag + QStringLiteral("Token-Fehler \u2013 Client ID/Secret pr\u00fcfen"));
            return std::nullopt;
        }
    }
    const auto line = [&](const QString& text) {
        Console::line(scrub(text, {clientSecret, *token}));
    };

    const std::optional<SpotifyTrackHit> hit = searchTrack(title, artist, *token, cancel, failures);
    if (!hit) {
        if (cancel.isCancelled()) {
            return std::nullopt; // stopped, not "nothing found"
        }
        line(kTag + QStringLiteral("Kein Ergebnis f\u00fcr: ") + title + QStringLiteral(" \u2013 ") + artist);
        return std::nullopt;
    }

    SpotifyLookupResult result;
    result.year = hit->year;
    if (hit->artistId) {
        result.genre = fetchArtistGenre(*hit->artistId, *token, cancel);
    }
    line(kTag + QStringLiteral("Ergebnis: Jahr=") + (result.year ? QString::number(*result.year) : kDash) +
         QStringLiteral(", Genre=") + result.genre.value_or(kDash) + QStringLiteral(" f\u00fcr: ") + title);
    return result;
}
