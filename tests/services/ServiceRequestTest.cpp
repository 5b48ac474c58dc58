#include "LookupScenario.h"
#include "LoopbackServer.h"

#include "services/AIExchange.h"
#include "services/AIPromptBuilder.h"
#include "services/AIServiceFactory.h"
#include "services/DiscogsService.h"
#include "services/LastFMService.h"
#include "services/SpotifyService.h"
#include "services/UpdateCheckService.h"

#include <QDate>
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

std::shared_ptr<AIService> ai(LoopbackServer& server, AIProviderType provider, const QString& key,
                              const QString& model = {}, std::optional<QString> endpoint = {}) {
    auto s = std::make_shared<SettingsSnapshot>();
    s->selectedProvider = provider;
    s->apiKey = key;
    s->modelName = model;
    s->customEndpoint = endpoint.value_or(server.baseUrl() + QStringLiteral("//")); // trailing slashes are dropped
    return makeAIService(provider, fixedSettingsSource(s), server.endpoints());
}

// Asks for the year with the provider's answer `reply` scripted at `path`; it must read 1987.
void year(LoopbackServer& server, AIProviderType provider, const QString& key, const char* path,
          const std::string& reply, const QString& model = {}) {
    server.script("POST", path, {{200, reply}});
    EXPECT_EQ(ai(server, provider, key, model)->lookupYear("Take On Me", "a-ha", "Hunting High and Low", "take.mp3"),
              1987);
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
        {"custom",
         [](LoopbackServer& s) {
             year(s, AIProviderType::custom, "sk-cloud", "/v1/chat/completions", chatText("The song was released in 1987"));
         },
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

// Without a usable key or address nothing is sent and every call fails or is empty.
TEST(AIService, MissingKeysAndUnusableAddressesSendNothing) {
    LoopbackServer server;
    std::vector<std::shared_ptr<AIService>> unusable;
    for (const AIProviderType cloud : {AIProviderType::claude, AIProviderType::openai}) {
        for (const QString& key : {QString(), QStringLiteral(" \t"), QStringLiteral("sk-a\r\nX-Injected: 1")}) {
            unusable.push_back(ai(server, cloud, key));
        }
        EXPECT_TRUE(ai(server, cloud, "sk-a ")->isAvailable());
    }
    for (const AIProviderType local : {AIProviderType::ollama, AIProviderType::lmstudio, AIProviderType::custom}) {
        unusable.push_back(ai(server, local, "k", {}, server.baseUrl().replace("127.0.0.1", "127.0.0 .1")));
    }
    for (const auto& service : unusable) {
        EXPECT_FALSE(service->isAvailable());
        expectThrows(AppError::Kind::aiError, [&] { service->lookupYear("T", "A", {}, {}); });
        expectThrows(AppError::Kind::aiError, [&] { service->lookupGenre("T", "A", std::nullopt); });
        EXPECT_TRUE(service->fetchModels().isEmpty());
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST(AIExchange, KeysRepliesAndErrorBodies) {
    const struct {
        QString stored;
        std::optional<QString> key;
    } keys[] = {
        {"  sk-abc \t", "sk-abc"}, {"\u00a0sk-abc\r\n", "sk-abc"}, {"sk a", "sk a"}, {"\n", {}},
        {"sk-a\nbc", {}}, {"sk-a\rbc", {}}, {QStringLiteral("sk-a") + QChar(0) + "bc", {}},
        {"sk-a\u007fbc", {}}, {"sk-a\u2028bc", {}},
    };
    for (const auto& c : keys) {
        EXPECT_EQ(AIExchange::usableKey(c.stored), c.key) << c.stored.toStdString();
    }
    using P = AIReplyPath;
    const struct {
        const char* body;
        P path;
    } unreadable[] = {
        {R"({"content":[]})", P::anthropicContent},        {R"({"content":{"text":"1987"}})", P::anthropicContent},
        {R"({"content":[{"text":1987}]})", P::anthropicContent}, {R"({"choices":[{"message":{"content":null}}]})", P::chatChoices},
        {R"({"choices":[{"message":"1987"}]})", P::chatChoices}, {R"({"response":5})", P::generateResponse},
        {R"({"response":"19)", P::generateResponse},
    };
    for (const auto& c : unreadable) {
        EXPECT_EQ(AIExchange::replyText(QByteArray(c.body), c.path), std::nullopt) << c.body;
    }
    EXPECT_EQ(AIExchange::bodyForMessage("bad key sk-secret-1", {"sk-secret-1"}), QStringLiteral("bad key [redacted]"));
    EXPECT_EQ(AIExchange::bodyForMessage(QByteArray("\xff\xfe oops"), {}), QStringLiteral("unknown"));
    EXPECT_EQ(AIExchange::bodyForMessage(QByteArray(5000, 'x'), {}), QString(1000, u'x') + QStringLiteral("… (cut)"));
    EXPECT_EQ(AIExchange::bodyForMessage(QByteArray(1000, 'y'), {}), QString(1000, u'y'));
}

TEST(AIPromptBuilder, BlankFieldsAreLeftOutAndYearsAreReadStrictly) {
    const QString blank = AIPromptBuilder::buildYearPrompt("T", "A", "\n", "  ", 2031);
    EXPECT_TRUE(blank.contains("between 1900 and 2031"));
    EXPECT_FALSE(blank.contains("- Album:") || blank.contains("- Filename:"));
    const int y = QDate::currentDate().year();
    const struct {
        QString answer;
        std::optional<int> year;
    } cases[] = {
        {"  \n1987.\r\n", 1987}, {"1987-06-01", 1987}, {"1987 (first pressed in 1987)", 1987},
        {"1987, catalogue 2099", 1987}, {"1920", 1920}, {QString::number(y + 1), y + 1},
        {QString::number(y + 2), {}}, {"1919", {}}, {"1910, re-released 1985", {}}, {"19871", {}}, {"a1987", {}},
        {"The remaster came out in 2011; the original is from 1978.", {}}, {"I think 1987 or 1992", {}},
        {"2099, or 1987", {}}, {"UNKNOWN, maybe 1987", {}}, {"1987 (nicht bekannt)", {}}, {"Keinesfalls 1987", {}},
        {"\u0661\u0669\u0668\u0667", {}}, {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AIPromptBuilder::parseYear(c.answer), c.year) << c.answer.toStdString();
    }
}
