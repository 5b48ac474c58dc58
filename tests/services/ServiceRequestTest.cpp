#include "LookupScenario.h"
#include "LoopbackServer.h"

#include "services/AIServiceFactory.h"
#include "services/DiscogsService.h"
#include "services/LastFMService.h"
#include "services/SpotifyService.h"
#include "services/UpdateCheckService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace LookupScenario;
using Pairs = std::vector<std::pair<std::string, std::string>>;

namespace {

// What one request must look like. A header expected as "" must be absent;
// body fields compare by their text ("#keys" is the sorted list of fields).
struct Shape {
    std::string method;
    std::string path;
    Pairs params;
    Pairs headers;
    Pairs body = {};
    std::string bodyHas = {};
};

std::shared_ptr<AIService> ai(LoopbackServer& server, AIProviderType provider, const QString& key, const QString& model = {}) {
    auto s = std::make_shared<SettingsSnapshot>();
    s->selectedProvider = provider;
    s->apiKey = key;
    s->modelName = model;
    s->customEndpoint = server.baseUrl() + QStringLiteral("//"); // trailing slashes are dropped
    return makeAIService(provider, fixedSettingsSource(s), server.endpoints());
}

void year(LoopbackServer& server, AIProviderType provider, const QString& key, const QString& model = {}) {
    ai(server, provider, key, model)->lookupYear("Take On Me", "a-ha", "Hunting High and Low", "take.mp3");
}

std::string field(const QJsonObject& body, const std::string& name) {
    if (name == "#keys") {
        return body.keys().join(',').toStdString();
    }
    const QJsonValue v = body.value(QString::fromStdString(name));
    return v.isString() ? v.toString().toStdString() : QJsonDocument(QJsonObject{{"v", v}}).toJson(QJsonDocument::Compact).mid(5).chopped(1).toStdString();
}

const std::string ua = Endpoints::userAgentWithSite().toStdString();
const std::string yearPrompt = "- Title: Take On Me\n- Artist: a-ha\n- Album: Hunting High and Low\n- Filename: take.mp3";

} // namespace

// The exact requests every outside service requires: method, path, query,
// headers and body, and no credential where none belongs.
TEST(ServiceRequest, EveryServiceSendsItsExactShape) {
    const struct {
        const char* name;
        std::function<void(LoopbackServer&)> call;
        std::vector<Shape> requests;
    } cases[] = {
        {"musicbrainz",
         [](LoopbackServer& s) {
             s.script("GET", "/ws/2/recording", {{200, mbAnswer(std::nullopt, "rock")}});
             MusicBrainzPacer pacer(std::chrono::milliseconds(1));
             MusicBrainzService(s.endpoints(), quickTiming(), pacer).lookup("Say \"Hi\" C:\\D+E", "A&B");
         },
         {{"GET", "/ws/2/recording", {{"query", R"(recording:"Say \"Hi\" C:\\D+E" AND artist:"A&B")"}, {"fmt", "json"}, {"limit", "5"}},
           {{"User-Agent", "Velmora/1.0 (" VELMORA_WEB_DOMAIN ")"}, {"Accept", "application/json"}}}}},
        {"spotify",
         [](LoopbackServer& s) {
             s.script("POST", "/api/token", {{200, spotifyToken("tok1")}});
             s.script("GET", "/v1/search", {{200, spotifySearch(1985, "2jzc5TC5TVFLXQlBNiIUzE")}});
             SpotifyService(s.endpoints()).lookup("Café & Bar + 1", "a-ha", "client-id", "client-Secret-42");
         },
         {{"POST", "/api/token", {},
           {{"Authorization", "Basic " + QByteArray("client-id:client-Secret-42").toBase64().toStdString()},
            {"Content-Type", "application/x-www-form-urlencoded"}, {"User-Agent", ""}},
           {}, "grant_type=client_credentials"},
          {"GET", "/v1/search", {{"q", "track:Café & Bar + 1 artist:a-ha"}, {"type", "track"}, {"limit", "1"}},
           {{"Authorization", "Bearer tok1"}, {"User-Agent", ua}}},
          {"GET", "/v1/artists/2jzc5TC5TVFLXQlBNiIUzE", {}, {{"Authorization", "Bearer tok1"}}}}},
        {"discogs",
         [](LoopbackServer& s) {
             s.script("GET", "/database/search", {{200, R"({"results":[{"id":123,"style":[]}]})"}});
             DiscogsService(s.endpoints(), {"Key0123", "Secret0123"}).lookupGenre("Rock & Roll + Café", "Ünïcode Band");
         },
         {{"GET", "/database/search", {{"type", "release"}, {"track", "Rock & Roll + Café"}, {"artist", "Ünïcode Band"}, {"per_page", "5"}},
           {{"Authorization", "Discogs key=Key0123, secret=Secret0123"}, {"User-Agent", ua}, {"Accept", ""}}},
          {"GET", "/releases/123", {}, {{"Authorization", "Discogs key=Key0123, secret=Secret0123"}}}}},
        {"lastfm",
         [](LoopbackServer& s) {
             s.script("GET", "/2.0/", {{200, lastFMTrackTags("")}});
             LastFMService(s.endpoints()).lookupGenre("Rock & Roll + More", "AC/DC", "k3y+Secret");
         },
         {{"GET", "/2.0/", {{"method", "track.getInfo"}, {"api_key", "k3y+Secret"}, {"artist", "AC/DC"}, {"track", "Rock & Roll + More"}, {"format", "json"}},
           {{"User-Agent", "Velmora/1.0"}, {"Accept", ""}}},
          {"GET", "/2.0/", {{"method", "artist.getInfo"}, {"api_key", "k3y+Secret"}, {"artist", "AC/DC"}, {"format", "json"}}, {}}}},
        {"claude", [](LoopbackServer& s) { year(s, AIProviderType::claude, " sk-key-1\n"); },
         {{"POST", "/v1/messages", {},
           {{"x-api-key", "sk-key-1"}, {"anthropic-version", "2023-06-01"}, {"content-type", "application/json"}, {"Authorization", ""}},
           {{"#keys", "max_tokens,messages,model"}, {"model", "claude-haiku-4-5-20251001"}, {"max_tokens", "100"}}, yearPrompt}}},
        {"claude models", [](LoopbackServer& s) { ai(s, AIProviderType::claude, "sk-ant")->fetchModels(); },
         {{"GET", "/v1/models", {}, {{"x-api-key", "sk-ant"}, {"anthropic-version", "2023-06-01"}}}}},
        {"openai", [](LoopbackServer& s) { year(s, AIProviderType::openai, "sk-oa", "gpt-4.1"); },
         {{"POST", "/v1/chat/completions", {}, {{"Authorization", "Bearer sk-oa"}, {"Content-Type", "application/json"}, {"x-api-key", ""}},
           {{"model", "gpt-4.1"}, {"max_tokens", "100"}}, yearPrompt}}},
        {"openai models", [](LoopbackServer& s) { ai(s, AIProviderType::openai, "sk-oa")->fetchModels(); },
         {{"GET", "/v1/models", {}, {{"Authorization", "Bearer sk-oa"}}}}},
        {"ollama", [](LoopbackServer& s) { year(s, AIProviderType::ollama, "sk-cloud"); },
         {{"POST", "/api/generate", {}, {{"Content-Type", "application/json"}, {"Authorization", ""}, {"x-api-key", ""}},
           {{"#keys", "model,prompt,stream"}, {"model", "llama3.2"}, {"stream", "false"}}, "What is the original release year"}}},
        {"lmstudio genre",
         [](LoopbackServer& s) { ai(s, AIProviderType::lmstudio, "sk-cloud")->lookupGenre("Song", "Band", std::nullopt); },
         {{"POST", "/v1/chat/completions", {}, {{"Authorization", ""}, {"x-api-key", ""}},
           {{"#keys", "max_tokens,messages,model"}, {"model", "local-model"}, {"max_tokens", "20"}}}}},
        {"custom", [](LoopbackServer& s) { year(s, AIProviderType::custom, "sk-cloud"); },
         {{"POST", "/v1/chat/completions", {}, {{"Authorization", ""}}, {{"model", ""}, {"max_tokens", "100"}}}}},
        {"update feed", [](LoopbackServer& s) { UpdateCheckService(s.endpoints(), "1.0.7", "1").checkForUpdates(); },
         {{"GET", "/downloads/version.json", {}, {{"User-Agent", "Velmora/1.0.7"}, {"Cache-Control", "no-cache"}}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        try {
            c.call(server);
        } catch (const AppError&) { // unscripted answers are 404s
        }
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), c.requests.size());
        for (std::size_t i = 0; i < requests.size(); ++i) {
            const LoopbackServer::Request& r = requests[i];
            const Shape& want = c.requests[i];
            EXPECT_EQ(r.method + " " + r.path, want.method + " " + want.path);
            EXPECT_EQ(r.params, want.params);
            for (const auto& [name, value] : want.headers) {
                EXPECT_EQ(r.hasHeader(name), !value.empty()) << name;
                EXPECT_EQ(r.header(name), value) << name;
            }
            const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object();
            for (const auto& [name, value] : want.body) {
                EXPECT_EQ(field(body, name), value) << name;
            }
            const QString prompt = body.value("prompt").toString() +
                                   body.value("messages")[0].toObject().value("content").toString();
            EXPECT_NE((r.body + prompt.toStdString()).find(want.bodyHas), std::string::npos) << r.body;
            EXPECT_EQ(r.body.find("sk-cloud"), std::string::npos); // a cloud key never goes to a local server
        }
    }
}
