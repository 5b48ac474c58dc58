#include "services/AIExchange.h"

#include "ConsoleCapture.h"
#include "LookupScenario.h"
#include "QtPrinters.h"
#include "services/AIConnectionTester.h"

#include <gtest/gtest.h>

using namespace LookupScenario;

// A server address is used trimmed, and only as an http or https address with a host.
TEST(AIExchangeTest, EndpointsAreTrimmedAndOnlyHttpWithAHostIsUsed) {
    const struct {
        const char* endpoint;
        const char* url; // "": refused as an invalid endpoint
    } cases[] = {
        {" http://127.0.0.1:1234/ \n", "http://127.0.0.1:1234/v1/models"}, {"\t127.0.0.1:1234", "http://127.0.0.1:1234/v1/models"},
        {"HTTPS://h.example/api", "https://h.example/api/v1/models"},      {"[::1]:8080", "http://[::1]:8080/v1/models"},
        {"file:///etc/passwd", ""}, {"file:/etc/passwd", ""}, {"ftp://h.example", ""}, {"javascript:alert(1)", ""},
        {"http:///api", ""}, {"https://", ""},
    };
    for (const auto& c : cases) {
        SettingsSnapshot s;
        s.appLanguage = AppLanguage::english;
        s.selectedProvider = AIProviderType::custom;
        s.customEndpoint = QString::fromUtf8(c.endpoint);
        const std::optional<QUrl> url = AIExchange::localAddress(s, "/v1/models").url;
        EXPECT_EQ(url ? url->toString().toStdString() : "", c.url) << c.endpoint;
        const auto verdict = AIConnectionTester().buildRequest(s);
        EXPECT_EQ(std::holds_alternative<HttpRequest>(verdict), url.has_value()) << c.endpoint;
        if (const auto* refused = std::get_if<AIConnectionTester::Result>(&verdict)) {
            EXPECT_EQ(refused->message, "Invalid endpoint URL") << c.endpoint;
        }
    }
}

TEST(AIExchangeTest, KeysRepliesAndErrorBodies) {
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
    expectThrows(AppError::Kind::networkError, [] { AIExchange::readStrict({}, P::chatChoices, {}, {}); }); // status 0
    LoopbackServer server; // an error answer that repeats the key
    server.script("POST", "/v1/chat/completions", {{401, R"({"error":"bad key sk-oa-echo"})"}});
    ConsoleCapture console;
    const auto openai = ai(server, AIProviderType::openai, "sk-oa-echo");
    expectThrows(AppError::Kind::aiError, [&] { openai->lookupYear("T", "A", {}, {}); });
    EXPECT_TRUE(console.text().contains(R"(HTTP 401: {"error":"bad key [redacted]"})")) << console.text().toStdString();
}
