#include "services/UpdateCheckService.h"

#include "model/AppSettings.h"
#include "model/TextUtil.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Absent and null count as no notes; any other kind makes the feed unreadable.
bool readNotes(const QJsonObject& object, const char* key, std::optional<QString>& out) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) {
        return true;
    }
    if (!value.isString()) {
        return false;
    }
    out = value.toString();
    return true;
}

QString withBuild(const QString& version, qint64 build) {
    return version + QStringLiteral(" (") + QString::number(build) + QLatin1Char(')');
}

} // namespace

std::optional<VersionTriple> parseVersion(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    QList<qint64> numbers;
    for (const QString& piece : text.mid(begin, end - begin).split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        if (const auto number = TextUtil::parseWholeNumber(piece)) {
            numbers.append(*number);
        }
    }
    if (numbers.size() < 2) {
        return std::nullopt;
    }
    return VersionTriple{numbers[0], numbers[1], numbers.size() > 2 ? numbers[2] : 0};
}

UpdateCheckService::UpdateCheckService(Endpoints endpoints, QString runningVersion, QString runningBuild,
                                       std::chrono::milliseconds timeout)
    : m_endpoints(std::move(endpoints)),
      m_runningVersion(runningVersion.isEmpty() ? QStringLiteral("0.0.0") : std::move(runningVersion)),
      m_runningBuild(TextUtil::parseWholeNumber(runningBuild).value_or(0)), m_timeout(timeout) {}

std::optional<ServerVersionInfo> UpdateCheckService::decodeFeed(const QByteArray& body) {
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QLatin1String("version"));
    const QJsonValue build = object.value(QLatin1String("build"));
    // A whole number keeps its value under both fallbacks; 6.5, texts and
    // numbers beyond 64 bits do not.
    if (!version.isString() || !build.isDouble() || build.toInteger(1) != build.toInteger(2)) {
        return std::nullopt;
    }
    ServerVersionInfo info;
    info.version = version.toString();
    info.build = build.toInteger();
    if (!readNotes(object, "release_notes_de", info.releaseNotesDe) ||
        !readNotes(object, "release_notes_en", info.releaseNotesEn)) {
        return std::nullopt;
    }
    return info;
}

std::optional<QString> UpdateCheckService::localizedReleaseNotes(const ServerVersionInfo& info,
                                                                 AppLanguage language,
                                                                 const QString& systemCode) {
    const bool germanFirst = language == AppLanguage::german ||
                             (language == AppLanguage::system && systemCode == QLatin1String("de"));
    const auto& first = germanFirst ? info.releaseNotesDe : info.releaseNotesEn;
    const auto& second = germanFirst ? info.releaseNotesEn : info.releaseNotesDe;
    return first ? first : second;
}

UpdateCheckResult UpdateCheckService::checkForUpdates(const CancelToken& cancel) const {
    using Kind = UpdateCheckResult::Kind;
    const auto running = parseVersion(m_runningVersion);
    if (!running) {
        return {Kind::parseError, {}, {}};
    }

    HttpRequest request;
    request.url = QUrl(m_endpoints.updateFeed);
    request.headers = {{"User-Agent", "Velmora/" + m_runningVersion.toUtf8()}, {"Cache-Control", "no-cache"}};
    request.timeout = m_timeout;
    request.maxBodyBytes = maxFeedBytes;

    HttpResponse response;
    try {
        response = m_http.send(request, cancel);
    } catch (const HttpError& error) {
        if (error.kind() == HttpError::Kind::tooLarge) {
            return {Kind::parseError, {}, {}};
        }
        return {Kind::networkError, error.description(), {}};
    }
    if (response.status != 200) {
        return {Kind::networkError, QStringLiteral("HTTP ") + QString::number(response.status), {}};
    }

    const auto feed = decodeFeed(response.body);
    const auto latest = feed ? parseVersion(feed->version) : std::nullopt;
    if (!latest) {
        return {Kind::parseError, {}, {}};
    }
    if (*latest > *running || (*latest == *running && feed->build > m_runningBuild)) {
        const auto snapshot = AppSettings::snapshot();
        return {Kind::updateAvailable, withBuild(feed->version, feed->build),
                localizedReleaseNotes(*feed, snapshot->appLanguage, systemLanguageCode())};
    }
    return {Kind::upToDate, withBuild(m_runningVersion, m_runningBuild), {}};
}
