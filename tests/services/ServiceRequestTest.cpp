#include "LookupScenario.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"

#include "services/AIConnectionTester.h"
#include "services/AIServiceFactory.h"
#include "services/DiscogsService.h"
#include "services/LastFMService.h"
#include "services/SpotifyService.h"
#include "services/UpdateCheckService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <chrono>

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

// Asks for the year with the provider's answer `reply` scripted at `path`; it must read 1987.
void year(LoopbackServer& server, AIProviderType provider, const QString& key, const char* path,
          const std::string& reply, const QString& model = {}) {
    server.script("POST", path, {{200, reply}});
    std::optional<int> found;
    EXPECT_NO_THROW(found = ai(server, provider, key, model)->lookupYear("Take On Me", "a-ha", "Hunting High and Low",
                                                                         "take.mp3"));
    EXPECT_EQ(found, 1987);
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

// The exact requests every outside service requires: method, path, query (by
// name, a raw '+' would read as a blank), headers and body, and no credential
// where none belongs.
struct ServiceCase {
    const char* name;
    std::function<void(LoopbackServer&)> call;
    std::vector<Shape> requests;
};
const ServiceCase services[] = {
    {"musicbrainz",
     [](LoopbackServer& s) {
         s.script("GET", "/ws/2/recording", {{200, mbAnswer(std::nullopt, "rock")}});
         MusicBrainzPacer pacer(std::chrono::milliseconds(1));
         MusicBrainzService(s.endpoints(), quickTiming(), pacer).lookup("Say \"Hi\" C:\\D+E", "A&B");
     },
     {{"GET", "/ws/2/recording",
       {{"fmt", "json"}, {"limit", "5"}, {"query", R"(recording:"Say \"Hi\" C:\\D+E" AND artist:"A&B")"}},
       {{"User-Agent", "Velmora/1.0 (" VELMORA_WEB_DOMAIN ")"}, {"Accept", "application/json"}}}}},
    {"spotify",
     [](LoopbackServer& s) {
         s.script("POST", "/api/token", {{200, spotifyToken("tok1")}});
         s.script("GET", "/v1/search", {{200, spotifySearch(1985, "2jzc5TC5TVFLXQlBNiIUzE")}});
         SpotifyService(s.endpoints()).lookup("Café & Bar + 1", "a-ha", "client-id", "client-Secret-42");
     },
     {{"POST", "/api/token", {{"grant_type", "client_credentials"}},
       {{"Authorization", "Basic " + QByteArray("client-id:client-Secret-42").toBase64().toStdString()},
        {"Content-Type", "application/x-www-form-urlencoded"}, {"User-Agent", ""}},
       {}, "grant_type=client_credentials"},
      {"GET", "/v1/search", {{"limit", "1"}, {"q", "track:Café & Bar + 1 artist:a-ha"}, {"type", "track"}},
       {{"Authorization", "Bearer tok1"}, {"User-Agent", ua}}},
      {"GET", "/v1/artists/2jzc5TC5TVFLXQlBNiIUzE", {}, {{"Authorization", "Bearer tok1"}}}}},
    {"discogs",
     [](LoopbackServer& s) {
         s.script("GET", "/database/search", {{200, R"({"results":[{"id":123,"style":[]}]})"}});
         DiscogsService(s.endpoints(), {"Key0123", "Secret0123"}).lookupGenre("Rock & Roll + Café", "Ünïcode Band");
     },
     {{"GET", "/database/search",
       {{"artist", "Ünïcode Band"}, {"per_page", "5"}, {"track", "Rock & Roll + Café"}, {"type", "release"}},
       {{"Authorization", "Discogs key=Key0123, secret=Secret0123"}, {"User-Agent", ua}, {"Accept", ""}}},
      {"GET", "/releases/123", {}, {{"Authorization", "Discogs key=Key0123, secret=Secret0123"}}}}},
    {"lastfm",
     [](LoopbackServer& s) {
         s.script("GET", "/2.0/", {{200, lastFMTrackTags("")}});
         LastFMService(s.endpoints()).lookupGenre("Rock & Roll + More", "AC/DC", "k3y+Secret");
     },
     {{"GET", "/2.0/",
       {{"api_key", "k3y+Secret"}, {"artist", "AC/DC"}, {"format", "json"}, {"method", "track.getInfo"},
        {"track", "Rock & Roll + More"}},
       {{"User-Agent", "Velmora/1.0"}, {"Accept", ""}}},
      {"GET", "/2.0/", {{"api_key", "k3y+Secret"}, {"artist", "AC/DC"}, {"format", "json"}, {"method", "artist.getInfo"}},
       {}}}},
    {"claude", [](LoopbackServer& s) { year(s, AIProviderType::claude, " sk-key-1\n", "/v1/messages", claudeText("1987.")); },
     {{"POST", "/v1/messages", {},
       {{"x-api-key", "sk-key-1"}, {"anthropic-version", "2023-06-01"}, {"content-type", "application/json"}, {"Authorization", ""}},
       {{"#keys", "max_tokens,messages,model"}, {"model", "claude-haiku-4-5-20251001"}, {"max_tokens", "100"}}, yearPrompt}}},
    {"claude models", [](LoopbackServer& s) { ai(s, AIProviderType::claude, "sk-ant")->fetchModels(); },
     {{"GET", "/v1/models", {}, {{"x-api-key", "sk-ant"}, {"anthropic-version", "2023-06-01"}}}}},
    {"openai",
     [](LoopbackServer& s) { year(s, AIProviderType::openai, "sk-oa", "/v1/chat/completions", chatText(" 1987\\n"), "gpt-4.1"); },
     {{"POST", "/v1/chat/completions", {}, {{"Authorization", "Bearer sk-oa"}, {"Content-Type", "application/json"}, {"x-api-key", ""}},
       {{"model", "gpt-4.1"}, {"max_tokens", "100"}}, yearPrompt}}},
    {"openai models", [](LoopbackServer& s) { ai(s, AIProviderType::openai, "sk-oa")->fetchModels(); },
     {{"GET", "/v1/models", {}, {{"Authorization", "Bearer sk-oa"}}}}},
    {"ollama", [](LoopbackServer& s) { year(s, AIProviderType::ollama, "sk-cloud", "/api/generate", ollamaText("1987")); },
     {{"POST", "/api/generate", {}, {{"Content-Type", "application/json"}, {"Authorization", ""}, {"x-api-key", ""}},
       {{"#keys", "model,prompt,stream"}, {"model", "llama3.2"}, {"stream", "false"}}, "What is the original release year"}}},
    {"lmstudio genre",
     [](LoopbackServer& s) { ai(s, AIProviderType::lmstudio, "sk-cloud")->lookupGenre("Song", "Band", std::nullopt); },
     {{"POST", "/v1/chat/completions", {}, {{"Authorization", ""}, {"x-api-key", ""}},
       {{"#keys", "max_tokens,messages,model"}, {"model", "local-model"}, {"max_tokens", "20"}},
       "- Title: Song\n- Artist: Band"}}},
    {"custom, its own key",
     [](LoopbackServer& s) {
         year(s, AIProviderType::custom, "sk-custom", "/v1/chat/completions", chatText("The song was released in 1987"));
         ai(s, AIProviderType::custom, "sk-custom")->fetchModels();
     },
     {{"POST", "/v1/chat/completions", {}, {{"Authorization", "Bearer sk-custom"}}, {{"model", ""}, {"max_tokens", "100"}}},
      {"GET", "/v1/models", {}, {{"Authorization", "Bearer sk-custom"}}}}},
    {"custom without a key of its own", [](LoopbackServer& s) { ai(s, AIProviderType::custom, " ")->fetchModels(); },
     {{"GET", "/v1/models", {}, {{"Authorization", ""}}}}},
    {"connection tests: custom with its key, openai without one",
     [](LoopbackServer& s) {
         for (const auto& [provider, key] : {std::pair{AIProviderType::custom, "sk-custom"}, {AIProviderType::openai, ""}}) {
             AIConnectionTester(s.endpoints()).run(*aiSettings(s, provider, key));
         }
     },
     {{"GET", "/v1/models", {}, {{"Authorization", "Bearer sk-custom"}}}}},
    {"update feed", [](LoopbackServer& s) { UpdateCheckService(s.endpoints(), "1.0.7", "1").checkForUpdates(); },
     {{"GET", "/downloads/version.json", {}, {{"User-Agent", "Velmora/1.0.7"}, {"Cache-Control", "no-cache"}}}}},
};

} // namespace

using ServiceRequestTest = ::testing::TestWithParam<ServiceCase>;

TEST_P(ServiceRequestTest, EveryServiceSendsItsExactShape) {
    const ServiceCase& c = GetParam();
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
        for (const auto& [name, value] : r.headers) { // no provider gets another provider's key
            EXPECT_EQ((name + value + r.body).find("sk-cloud"), std::string::npos) << name;
        }
    }
}
INSTANTIATE_TEST_SUITE_P(, ServiceRequestTest, ::testing::ValuesIn(services), RowName());
