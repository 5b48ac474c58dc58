#include "services/MusicBrainzService.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "model/DecadeRule.h"
#include "model/TextUtil.h"
#include "services/JsonValues.h"
#include "services/UrlQuery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include <cmath>
#include <limits>

namespace {

const QString kTag = QStringLiteral("[MusicBrainzService] ");
const QString kSource = QStringLiteral("MusicBrainz");

void print(const QString& text) {
    Console::line(kTag + text);
}

QString quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

qint64 saturatingAdd(qint64 a, qint64 b) {
    qint64 sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    }
    return sum;
}

// A busy or failing server may answer the same request a moment later.
bool worthWaitingFor(int status) {
    return status == 429 || (status >= 500 && status <= 599);
}

// A search answer at all: a JSON object with a list of recordings (empty or not).
bool isRecordingAnswer(const QByteArray& body) {
    const QJsonDocument document = QJsonDocument::fromJson(body);
    return document.isObject() && document.object().value(QStringLiteral("recordings")).isArray();
}

} // namespace

MusicBrainzService::MusicBrainzService(const Endpoints& endpoints, Timing timing, MusicBrainzPacer& pacer)
    : m_baseURL(endpoints.musicBrainzRecording), m_userAgent(Endpoints::userAgentWithContact()),
      m_timing(timing), m_pacer(pacer) {}

MusicBrainzResult MusicBrainzService::lookup(const QString& title, const QString& artist,
                                             const CancelToken& cancel, SourceFailures* failures) const {
    if (TextUtil::trimWs(title).isEmpty()) {
        print(QStringLiteral("Skipping lookup: empty title"));
        return {};
    }
    if (!cancel.sleepFor(m_timing.rateLimitDelay)) {
        throw AppError::cancelled();
    }
    if (TextUtil::trimWs(artist).isEmpty()) {
        print(QStringLiteral("Looking up title only: ") + quoted(title));
        return performRequest(title, std::nullopt, cancel, failures);
    }

    print(QStringLiteral("Looking up: ") + quoted(title) + QStringLiteral(" by ") + quoted(artist));
    const MusicBrainzResult withArtist = performRequest(title, artist, cancel, failures);
    if (withArtist.year || withArtist.genre) {
        return withArtist;
    }
    print(QStringLiteral("No result with artist, retrying without"));
    if (!cancel.sleepFor(m_timing.rateLimitDelay)) {
        throw AppError::cancelled();
    }
    print(QStringLiteral("Looking up title only: ") + quoted(title));
    return performRequest(title, std::nullopt, cancel, failures);
}

QString MusicBrainzService::escapePhrase(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"')) {
            out += QLatin1Char('\\');
        }
        out += c;
    }
    return out;
}

std::optional<QUrl> MusicBrainzService::buildSearchURL(const QString& title,
                                                       const std::optional<QString>& artist) const {
    QString query = QStringLiteral("recording:") + quoted(escapePhrase(title));
    if (artist && !artist->isEmpty()) {
        query += QStringLiteral(" AND artist:") + quoted(escapePhrase(*artist));
    }
    UrlQuery items;
    items.add(QStringLiteral("query"), query)
        .add(QStringLiteral("fmt"), QStringLiteral("json"))
        .add(QStringLiteral("limit"), QStringLiteral("5"));
    return UrlQuery::withQuery(m_baseURL, items);
}

MusicBrainzResult MusicBrainzService::performRequest(const QString& title,
                                                     const std::optional<QString>& artist,
                                                     const CancelToken& cancel,
                                                     SourceFailures* failures) const {
    const std::optional<QUrl> url = buildSearchURL(title, artist);
    if (!url) {
        print(QStringLiteral("Failed to build URL"));
        return {};
    }
    HttpRequest request;
    request.url = *url;
    request.headers = {{"User-Agent", m_userAgent}, {"Accept", "application/json"}};
    request.timeout = m_timing.requestTimeout;

    const int maxRetries = std::max(1, m_timing.maxRetries);
    try {
        for (int attempt = 1;; ++attempt) {
            if (!m_pacer.acquire(cancel)) {
                throw AppError::cancelled();
            }
            const QString of = QStringLiteral(" (attempt %1/%2)").arg(attempt).arg(maxRetries);
            // A network error goes to the handler below: only the server may ask for a second try.
            const HttpResponse response = m_http.send(request, cancel);
            const int status = response.status;
            if (!worthWaitingFor(status)) {
                if (status != 200) {
                    print(QStringLiteral("HTTP error: %1").arg(status));
                    SourceFailures::note(
                        failures, {kSource, SourceFailure::Reason::httpStatus, QString::number(status)});
                    return {};
                }
                if (!isRecordingAnswer(response.body)) {
                    SourceFailures::note(failures, {kSource, SourceFailure::Reason::unreadableAnswer, {}});
                }
                return parseRecordings(response.body);
            }
            print((status == 503 || status == 429 ? QStringLiteral("Rate limited (%1), waiting 2 seconds")
                                                  : QStringLiteral("Server error (%1), waiting 2 seconds"))
                      .arg(status) +
                  of);
            if (attempt >= maxRetries) {
                print(QStringLiteral("Max retries reached after %1").arg(status));
                SourceFailures::note(failures,
                                     {kSource, SourceFailure::Reason::httpStatus, QString::number(status)});
                return {};
            }
            if (!cancel.sleepFor(m_timing.retryDelay)) {
                throw HttpError(HttpError::Kind::cancelled, QStringLiteral("cancelled"));
            }
        }
    } catch (const HttpError& e) {
        if (e.kind() == HttpError::Kind::cancelled) {
            throw AppError::cancelled();
        }
        print(QStringLiteral("Network error: ") + e.description());
        SourceFailures::note(failures, e.sourceFailure(kSource));
        throw AppError::networkError(e.description());
    }
}

MusicBrainzResult MusicBrainzService::parseRecordings(const QByteArray& body) {
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const std::optional<QList<QJsonObject>> recordings =
        document.isObject() ? JsonValues::objectList(document.object().value(QStringLiteral("recordings")))
                            : std::nullopt;
    if (!recordings || recordings->isEmpty()) {
        print(QStringLiteral("No recordings found in response"));
        return {};
    }

    QList<int> years;
    // Tag totals in the order the names first appear, so ties go to the first seen.
    QList<QPair<QString, qint64>> counts;
    QHash<QString, qsizetype> index;

    for (const QJsonObject& recording : *recordings) {
        if (recording.isEmpty()) {
            continue;
        }
        if (const auto tags = JsonValues::objectList(recording.value(QStringLiteral("tags")))) {
            for (const QJsonObject& tag : *tags) {
                const QJsonValue name = tag.value(QStringLiteral("name"));
                const std::optional<qint64> count =
                    JsonValues::wholeNumber(tag.value(QStringLiteral("count")), 9.2e18);
                if (tag.isEmpty() || !name.isString() || !count) {
                    continue;
                }
                const QString key = name.toString();
                const auto found = index.constFind(key);
                if (found == index.constEnd()) {
                    index.insert(key, counts.size());
                    counts.append({key, *count});
                } else {
                    counts[*found].second = saturatingAdd(counts[*found].second, *count);
                }
            }
        }
        if (const auto releases = JsonValues::objectList(recording.value(QStringLiteral("releases")))) {
            for (const QJsonObject& release : *releases) {
                if (release.isEmpty()) {
                    continue;
                }
                const QJsonValue date = release.value(QStringLiteral("date"));
                if (date.isString()) {
                    if (const std::optional<int> y = extractYear(date.toString())) {
                        years.append(*y);
                    }
                }
                const QJsonValue group = release.value(QStringLiteral("release-group"));
                const QJsonValue first = group.toObject().value(QStringLiteral("first-release-date"));
                if (group.isObject() && first.isString()) {
                    if (const std::optional<int> y = extractYear(first.toString())) {
                        years.append(*y);
                    }
                }
            }
        }
    }

    MusicBrainzResult result;
    if (!years.isEmpty()) {
        result.year = *std::min_element(years.begin(), years.end());
        print(QStringLiteral("Found year: %1").arg(*result.year));
    }
    if (!counts.isEmpty()) {
        const auto* best = &counts.front();
        for (const auto& entry : counts) {
            if (entry.second > best->second) {
                best = &entry;
            }
        }
        result.genre = best->first;
        print(QStringLiteral("Found genre tag: ") + best->first);
    }
    if (!result.year && !result.genre) {
        print(QStringLiteral("No plausible year or genre found in response"));
    }
    return result;
}
