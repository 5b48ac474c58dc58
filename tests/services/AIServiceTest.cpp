#include "LookupScenario.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"

#include "services/AIExchange.h"
#include "services/AIPromptBuilder.h"
#include "services/AIServiceFactory.h"

#include <QDate>

#include <gtest/gtest.h>

using namespace LookupScenario;

namespace {

std::shared_ptr<AIService> make(LoopbackServer& server, AIProviderType provider, const QString& key, const QString& endpoint) {
    auto s = std::make_shared<SettingsSnapshot>();
    s->selectedProvider = provider;
    s->apiKey = key;
    s->customEndpoint = endpoint;
    return makeAIService(provider, fixedSettingsSource(s), server.endpoints());
}

} // namespace

TEST(AIService, AnswersOfEveryProviderAreRead) {
    const struct {
        AIProviderType provider;
        const char* path;
        std::string reply;
    } cases[] = {
        {AIProviderType::claude, "/v1/messages", claudeText("1987.")},
        {AIProviderType::openai, "/v1/chat/completions", chatText(" 1987\\n")},
        {AIProviderType::ollama, "/api/generate", ollamaText("1987")},
        {AIProviderType::lmstudio, "/v1/chat/completions", chatText("The song was released in 1987")},
    };
    for (const auto& c : cases) {
        LoopbackServer server;
        server.script("POST", c.path, {{200, c.reply}});
        const auto ai = make(server, c.provider, "sk-key", server.baseUrl());
        EXPECT_EQ(ai->providerType(), c.provider);
        EXPECT_EQ(ai->lookupYear("Take On Me", "a-ha", {}, {}), 1987) << c.path;
    }
}

// Without a usable key or address nothing is sent and every call fails or is empty.
TEST(AIService, MissingKeysAndUnusableAddressesSendNothing) {
    LoopbackServer server;
    std::vector<std::shared_ptr<AIService>> unusable;
    for (const AIProviderType cloud : {AIProviderType::claude, AIProviderType::openai}) {
        for (const QString& key : {QString(), QStringLiteral(" \t"), QStringLiteral("\n"), QStringLiteral("sk-a\r\nX-Injected: 1")}) {
            unusable.push_back(make(server, cloud, key, {}));
        }
        EXPECT_TRUE(make(server, cloud, "sk-a ", {})->isAvailable());
    }
    for (const AIProviderType local : {AIProviderType::ollama, AIProviderType::lmstudio, AIProviderType::custom}) {
        unusable.push_back(make(server, local, "k", server.baseUrl().replace("127.0.0.1", "127.0.0 .1")));
    }
    for (const auto& ai : unusable) {
        EXPECT_FALSE(ai->isAvailable());
        expectThrows(AppError::Kind::aiError, [&] { ai->lookupYear("T", "A", {}, {}); });
        expectThrows(AppError::Kind::aiError, [&] { ai->lookupGenre("T", "A", std::nullopt); });
        EXPECT_TRUE(ai->fetchModels().isEmpty());
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST(AIExchange, KeysRepliesAndErrorBodies) {
    const struct {
        QString stored;
        std::optional<QString> key;
    } keys[] = {
        {"sk-abc", "sk-abc"}, {"  sk-abc \t", "sk-abc"}, {"sk-abc\n", "sk-abc"}, {"\u00a0sk-abc\r\n", "sk-abc"},
        {"\n", {}}, {"", {}}, {"sk-a\nbc", {}}, {"sk-a\rbc", {}}, {QStringLiteral("sk-a") + QChar(0) + "bc", {}},
        {"sk-a\u007fbc", {}}, {"sk-a\u2028bc", {}}, {"sk a", "sk a"},
    };
    for (const auto& c : keys) {
        EXPECT_EQ(AIExchange::usableKey(c.stored), c.key) << c.stored.toStdString();
    }
    using P = AIReplyPath;
    const struct {
        const char* body;
        P path;
        std::optional<QString> text;
    } replies[] = {
        {R"({"content":[{"type":"text","text":"1987"}]})", P::anthropicContent, "1987"},
        {R"({"content":[]})", P::anthropicContent, {}},
        {R"({"content":{"text":"1987"}})", P::anthropicContent, {}},
        {R"({"content":[{"text":1987}]})", P::anthropicContent, {}},
        {R"({"choices":[{"message":{"content":" 1987\n"}}]})", P::chatChoices, " 1987\n"},
        {R"({"choices":[{"message":{"content":null}}]})", P::chatChoices, {}},
        {R"({"choices":[{"message":"1987"}]})", P::chatChoices, {}},
        {R"({"response":"1987","done":true})", P::generateResponse, "1987"},
        {R"({"response":5})", P::generateResponse, {}},
        {R"({"response":"19)", P::generateResponse, {}},
    };
    for (const auto& c : replies) {
        EXPECT_EQ(AIExchange::replyText(QByteArray(c.body), c.path), c.text) << c.body;
    }
    EXPECT_EQ(AIExchange::bodyForMessage("bad key sk-secret-1", {"sk-secret-1"}), QStringLiteral("bad key [redacted]"));
    EXPECT_EQ(AIExchange::bodyForMessage(QByteArray("\xff\xfe oops"), {}), QStringLiteral("unknown"));
    EXPECT_EQ(AIExchange::bodyForMessage(QByteArray(5000, 'x'), {}), QString(1000, u'x') + QStringLiteral("… (cut)"));
    EXPECT_EQ(AIExchange::bodyForMessage(QByteArray(1000, 'y'), {}), QString(1000, u'y'));
}

TEST(AIPromptBuilder, PromptsCarryTheSongFieldsAndYearsAreReadStrictly) {
    const QString year = AIPromptBuilder::buildYearPrompt("Take On Me", "a-ha", "Hunting", "t.mp3", 2031);
    for (const char* part : {"- Title: Take On Me\n- Artist: a-ha\n- Album: Hunting\n", "- Filename: t.mp3", "between 1900 and 2031"}) {
        EXPECT_TRUE(year.contains(QString::fromUtf8(part))) << part;
    }
    const QString blank = AIPromptBuilder::buildYearPrompt("T", "A", "\n", "  ", 2031);
    EXPECT_FALSE(blank.contains("- Album:") || blank.contains("- Filename:"));
    EXPECT_TRUE(AIPromptBuilder::buildGenrePrompt("Blue Monday", "New Order", std::nullopt).contains("- Title: Blue Monday\n- Artist: New Order"));
    const int y = QDate::currentDate().year();
    const struct {
        QString answer;
        std::optional<int> year;
    } cases[] = {
        {"1987", 1987}, {"  \n1987.\r\n", 1987}, {"1987-06-01", 1987}, {"1987 (first pressed in 1987)", 1987},
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
