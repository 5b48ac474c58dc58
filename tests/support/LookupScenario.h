#pragma once

#include "LoopbackServer.h"
#include "TestHelpers.h"

#include "model/MusicFile.h"
#include "model/SettingsSnapshot.h"
#include "services/AIService.h"
#include "services/AIServiceFactory.h"
#include "services/MusicBrainzService.h"
#include "services/YearLookupService.h"

#include <functional>
#include <mutex>

// Pieces for end-to-end tests of the year lookup against the loopback server:
// settings, files and the answers of the outside services, shaped like theirs.
namespace LookupScenario {

using Request = LoopbackServer::Request;
using Response = LoopbackServer::Response;

// Settings behind a lock; source() hands the current state to the code under
// test, change() alters it (also mid-lookup). Only MusicBrainz is on at first.
class Settings {
public:
    Settings() {
        m_values = SettingsSnapshot::defaults();
        m_values.selectedProvider = AIProviderType::claude;
        m_values.apiKeys.clear();
        m_values.useMusicBrainz = m_values.useExistingYearTag = true;
        m_values.useSpotify = m_values.useDiscogs = m_values.useLastFM = m_values.enableGenreLookup = false;
    }

    void change(const std::function<void(SettingsSnapshot&)>& edit) {
        std::lock_guard lock(m_mutex);
        edit(m_values);
    }
    SettingsSource source() {
        return [this] {
            std::lock_guard lock(m_mutex);
            return std::make_shared<const SettingsSnapshot>(m_values);
        };
    }
    void useSpotify() {
        change([](SettingsSnapshot& s) { s.useSpotify = true, s.spotifyClientId = "client-id", s.spotifyClientSecret = "client-secret"; });
    }

private:
    std::mutex m_mutex;
    SettingsSnapshot m_values;
};

inline MusicFile file(const QString& title, const QString& artist = "Artist", std::optional<int> year = {}) {
    return musicFile(title, artist, year, QString(), QStringLiteral("/music/track.mp3"));
}

inline MusicBrainzTiming quickTiming() {
    using namespace std::chrono_literals;
    return {1ms, 1ms, 2, 5s}; // the delays, requests per query, the deadline
}

inline std::string mbRecordings(const std::string& list) {
    return R"({"recordings":[)" + list + "]}";
}
inline std::string mbAnswer(std::optional<int> year, std::optional<std::string> tag) {
    const std::string tags = tag ? R"("tags":[{"name":")" + *tag + R"(","count":3}])" : "";
    const std::string date = year ? R"("releases":[{"date":")" + std::to_string(*year) + R"(-05-12"}])" : "";
    return mbRecordings("{" + tags + (tag && year ? "," : "") + date + "}");
}
inline const std::string mbEmpty = mbRecordings("");

inline std::string spotifyToken(const std::string& token = "tok", const std::string& expiresIn = "3600") {
    return R"({"access_token":")" + token + R"(","token_type":"Bearer","expires_in":)" + expiresIn + "}";
}
inline std::string spotifySearch(int year, const std::string& artistId = "abc123") {
    return R"({"tracks":{"items":[{"album":{"release_date":")" + std::to_string(year) +
           R"(-01-01"},"artists":[{"id":")" + artistId + R"("}]}]}})";
}
inline std::string spotifyArtist(const std::string& genre) {
    return genre.empty() ? R"({"genres":[]})" : R"({"genres":[")" + genre + R"("]})";
}

// Last.fm tag lists from the raw tag objects, e.g. R"({"name":"Rock"})".
inline std::string lastFMTrackTags(const std::string& tags) {
    return R"({"track":{"name":"T","toptags":{"tag":[)" + tags + "]}}}";
}
inline std::string lastFMArtistTags(const std::string& tags) {
    return R"({"artist":{"name":"A","tags":{"tag":[)" + tags + "]}}}";
}
inline std::string lastFMTrack(const std::string& tag) {
    return lastFMTrackTags(R"({"name":")" + tag + R"("})");
}

inline std::string claudeText(const std::string& text) {
    return R"({"content":[{"type":"text","text":")" + text + R"("}]})";
}
inline std::string chatText(const std::string& text) {
    return R"({"choices":[{"message":{"role":"assistant","content":")" + text + R"("}}]})";
}
inline std::string ollamaText(const std::string& text) {
    return R"({"response":")" + text + R"(","done":true})";
}

// AI settings pointing every provider at the loopback server; the other providers hold a key
// ("sk-cloud") that must never be sent.
inline std::shared_ptr<SettingsSnapshot> aiSettings(LoopbackServer& server, AIProviderType provider,
                                                    const QString& key, const QString& model = {},
                                                    std::optional<QString> endpoint = {}) {
    auto s = std::make_shared<SettingsSnapshot>();
    s->selectedProvider = provider;
    for (const AIProviderType other : allAIProviderTypes()) {
        s->apiKeys[other] = QStringLiteral("sk-cloud"); // another provider's key: never sent here
    }
    s->apiKeys[provider] = key;
    s->modelName = model;
    // Blanks and line breaks around the address and its trailing slashes are dropped.
    s->customEndpoint = endpoint.value_or(QStringLiteral(" ") + server.baseUrl() + QStringLiteral("//\n"));
    return s;
}

// The service of `provider` over those settings.
inline std::shared_ptr<AIService> ai(LoopbackServer& server, AIProviderType provider, const QString& key,
                                     const QString& model = {}, std::optional<QString> endpoint = {}) {
    return makeAIService(provider, fixedSettingsSource(aiSettings(server, provider, key, model, endpoint)),
                         server.endpoints());
}

inline bool mbAsksFor(const LoopbackServer::Request& r, const std::string& title) {
    return r.query("query").find("recording:\"" + title + "\"") != std::string::npos;
}

} // namespace LookupScenario
