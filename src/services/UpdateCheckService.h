#pragma once

#include "model/AppLanguage.h"
#include "services/CancelToken.h"
#include "services/Endpoints.h"
#include "services/HttpClient.h"

#include <QString>

#include <chrono>
#include <compare>
#include <optional>

// Major, minor and patch of a release.
struct VersionTriple {
    qint64 majorVersion = 0;
    qint64 minorVersion = 0;
    qint64 patchVersion = 0;
    auto operator<=>(const VersionTriple&) const = default;
};

// "1.2.3" -> (1, 2, 3), "1.2" -> (1, 2, 0). Spaces and tabs around the text
// are ignored, empty pieces dropped, pieces that are no whole decimal number
// ("V2", "3b", an overflowing number) skipped; fewer than two numbers: none.
std::optional<VersionTriple> parseVersion(const QString& text);

// The version feed as read from the server.
struct ServerVersionInfo {
    QString version;
    qint64 build = 0;
    std::optional<QString> releaseNotesDe;
    std::optional<QString> releaseNotesEn;
};

// The outcome of one check.
struct UpdateCheckResult {
    enum class Kind { upToDate, updateAvailable, networkError, parseError };
    Kind kind = Kind::parseError;
    // upToDate: the running "version (build)"; updateAvailable: the feed's
    // "version (build)"; networkError: the message to show.
    QString text;
    // updateAvailable only: the release notes in the chosen language.
    std::optional<QString> notes;
};

// Asks the product's version feed whether a newer release exists. Blocking;
// call it from a worker thread. The answer is untrusted: the body is capped,
// every field is checked for its exact type.
//
//     UpdateCheckService service;                  // the real feed, this build
//     UpdateCheckResult r = service.checkForUpdates(cancel);
class UpdateCheckService {
public:
    static constexpr qint64 maxFeedBytes = 64 * 1024;

    // `runningVersion` and `runningBuild` default to this build's version
    // texts; an empty version counts as "0.0.0", a build that is no whole
    // number as 0.
    explicit UpdateCheckService(Endpoints endpoints = {},
                                QString runningVersion = QStringLiteral(VELMORA_VERSION),
                                QString runningBuild = QStringLiteral(VELMORA_BUILD_NUMBER),
                                std::chrono::milliseconds timeout = std::chrono::seconds(15));

    // Never throws: every failure becomes a networkError or parseError result.
    UpdateCheckResult checkForUpdates(const CancelToken& cancel = CancelToken()) const;

    // The notes to show. German setting: German notes, else English; English
    // setting: English, else German; system: German first only when the system
    // language code is exactly "de", English first otherwise.
    static std::optional<QString> localizedReleaseNotes(const ServerVersionInfo& info, AppLanguage language,
                                                        const QString& systemCode);

    // The feed decoded strictly; none when it is no object of the right shape.
    static std::optional<ServerVersionInfo> decodeFeed(const QByteArray& body);

private:
    Endpoints m_endpoints;
    QString m_runningVersion;
    qint64 m_runningBuild = 0;
    std::chrono::milliseconds m_timeout;
    HttpClient m_http;
};
