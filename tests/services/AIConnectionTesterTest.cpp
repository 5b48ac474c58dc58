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
