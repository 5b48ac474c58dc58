#include "services/AIConnectionTester.h"

#include "ClosedPort.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"
#include "model/AppLanguage.h"

#include <gtest/gtest.h>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

SettingsSnapshot settings(AIProviderType provider, const QString& endpoint = {}, const QString& key = {},
                          AppLanguage language = AppLanguage::english) {
    SettingsSnapshot s;
    s.selectedProvider = provider;
    s.customEndpoint = endpoint;
    s.apiKey = key;
    s.appLanguage = language;
    return s;
}

using Result = AIConnectionTester::Result;

} // namespace

TEST(AIConnectionTester, RequestsAddressTheServersTheLookupsUse) {
    LoopbackServer server;
    const AIConnectionTester tester(server.endpoints());
    using H = QList<QPair<QByteArray, QByteArray>>;
    struct Case {
        SettingsSnapshot settings;
        QString url;
        H headers;
        std::chrono::milliseconds timeout;
    };
    const std::vector<Case> cases{
        {settings(AIProviderType::claude, {}, u(" sk-ant\n")), server.url("/v1/models"),
         H{{"x-api-key", "sk-ant"}, {"anthropic-version", "2023-06-01"}}, std::chrono::seconds(10)},
        {settings(AIProviderType::openai, {}, u("sk-oa")), server.url("/v1/models"),
         H{{"Authorization", "Bearer sk-oa"}}, std::chrono::seconds(10)},
        {settings(AIProviderType::ollama), u("http://localhost:11434/api/tags"), {}, std::chrono::seconds(8)},
        {settings(AIProviderType::ollama, u("http://localhost:11434/")),
         u("http://localhost:11434/api/tags"),
         {},
         std::chrono::seconds(8)},
        {settings(AIProviderType::ollama, u("localhost:11434")),
         u("http://localhost:11434/api/tags"),
         {},
         std::chrono::seconds(8)},
        {settings(AIProviderType::lmstudio),
         u("http://localhost:1234/v1/models"),
         {},
         std::chrono::seconds(8)},
        // The cloud key is never sent to the custom server.
        {settings(AIProviderType::custom, u("localhost:8080//"), u("sk-ant")),
         u("http://localhost:8080/v1/models"),
         {},
         std::chrono::seconds(10)},
    };
    for (const Case& c : cases) {
        const auto built = tester.buildRequest(c.settings);
        ASSERT_TRUE(std::holds_alternative<HttpRequest>(built)) << c.url.toStdString();
        const HttpRequest& r = std::get<HttpRequest>(built);
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.url.toString(), c.url);
        EXPECT_EQ(r.headers, c.headers) << c.url.toStdString();
        EXPECT_EQ(r.timeout, c.timeout) << c.url.toStdString();
    }
}

TEST(AIConnectionTester, ChecksBeforeSendingInBothLanguages) {
    LoopbackServer server;
    const AIConnectionTester tester(server.endpoints());
    struct Case {
        SettingsSnapshot settings;
        const char* english;
        const char* german;
    };
    const std::vector<Case> cases{
        {settings(AIProviderType::claude, {}, u(" \t")), "API key missing", "API-Schlüssel fehlt"},
        {settings(AIProviderType::openai, {}, u("sk\nX: y")), "API key missing", "API-Schlüssel fehlt"},
        {settings(AIProviderType::custom, u("  ")), "No endpoint configured", "Kein Endpoint konfiguriert"},
        {settings(AIProviderType::ollama, u("http://local host")), "Invalid endpoint URL",
         "Ungültige Endpoint-URL"},
        {settings(AIProviderType::lmstudio, u("http://")), "Invalid endpoint URL", "Ungültige Endpoint-URL"},
    };
    for (Case c : cases) {
        EXPECT_EQ(tester.run(c.settings), (Result{false, u(c.english)}));
        c.settings.appLanguage = AppLanguage::german;
        EXPECT_EQ(tester.run(c.settings), (Result{false, u(c.german)}));
    }
    Endpoints broken = server.endpoints();
    broken.anthropicModels = u("not a url");
    EXPECT_EQ(AIConnectionTester(broken).run(settings(AIProviderType::claude, {}, u("sk"))),
              (Result{false, u("Invalid URL")}));
    EXPECT_TRUE(server.requests().empty());
}

TEST(AIConnectionTester, VerdictsForEveryAnswer) {
    LoopbackServer server;
    const AIConnectionTester tester(server.endpoints());
    struct Case {
        int status;
        Result english;
        Result german;
    };
    const std::vector<Case> cases{
        {200, {true, u("Connection successful (200)")}, {true, u("Verbindung erfolgreich (200)")}},
        {204, {true, u("Connection successful (204)")}, {true, u("Verbindung erfolgreich (204)")}},
        {401,
         {false, u("Authentication failed (401)")},
         {false, u("Authentifizierung fehlgeschlagen (401)")}},
        {403,
         {false, u("Authentication failed (403)")},
         {false, u("Authentifizierung fehlgeschlagen (403)")}},
        {404, {false, u("Server error 404")}, {false, u("Server-Fehler 404")}},
        {500, {false, u("Server error 500")}, {false, u("Server-Fehler 500")}},
    };
    for (const Case& c : cases) {
        for (const AIProviderType provider :
             {AIProviderType::claude, AIProviderType::ollama, AIProviderType::custom}) {
            server.script("GET", provider == AIProviderType::ollama ? "/api/tags" : "/v1/models",
                          {{c.status, "{}"}});
            SettingsSnapshot s = settings(provider, server.baseUrl(), u("sk-1"));
            EXPECT_EQ(tester.run(s), c.english) << c.status;
            s.appLanguage = AppLanguage::german;
            EXPECT_EQ(tester.run(s), c.german) << c.status;
        }
    }
    for (const auto& r : server.requests()) {
        if (r.path == "/v1/models" && !r.hasHeader("x-api-key")) {
            EXPECT_FALSE(r.hasHeader("Authorization")); // the custom server
        }
    }
}

TEST(AIConnectionTester, RefusedConnectionAndSystemLanguage) {
    const QString closed = closedLoopbackUrl();
    const AIConnectionTester tester;
    const Result english = tester.run(settings(AIProviderType::lmstudio, closed));
    EXPECT_FALSE(english.success);
    EXPECT_TRUE(english.message.startsWith(u("No connection: "))) << english.message.toStdString();
    EXPECT_GT(english.message.size(), u("No connection: ").size());

    // With the system language, German unless the system's code is exactly "en".
    const Result system = tester.run(settings(AIProviderType::lmstudio, closed, {}, AppLanguage::system));
    const bool systemEnglish = systemLanguageCode() == u("en");
    EXPECT_EQ(system.message.startsWith(u("Keine Verbindung: ")), !systemEnglish);
}

TEST(AIConnectionTester, ModelListOfTheSelectedProvider) {
    LoopbackServer server;
    server.script("GET", "/api/tags", {{200, R"({"models":[{"name":"b"},{"name":"a"}]})"}});
    const AIConnectionTester tester(server.endpoints());
    auto s = std::make_shared<SettingsSnapshot>(settings(AIProviderType::ollama, server.baseUrl()));
    EXPECT_EQ(tester.fetchModels(s), QStringList({"a", "b"}));
    auto custom =
        std::make_shared<SettingsSnapshot>(settings(AIProviderType::custom, server.baseUrl(), u("sk")));
    server.script("GET", "/v1/models", {{200, R"({"data":[{"id":"any-model"}]})"}});
    EXPECT_EQ(tester.fetchModels(custom), QStringList({"any-model"}));
    EXPECT_FALSE(server.requests().back().hasHeader("Authorization"));
}
