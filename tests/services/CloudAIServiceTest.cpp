#include "services/ClaudeAIService.h"
#include "services/OpenAIService.h"

#include "LoopbackServer.h"
#include "QtPrinters.h"
#include "TestHelpers.h"
#include "model/AppError.h"
#include "services/AIServiceFactory.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

std::shared_ptr<const SettingsSnapshot> settings(AIProviderType provider, const QString& key,
                                                 const QString& model = {}) {
    auto s = std::make_shared<SettingsSnapshot>();
    s->selectedProvider = provider;
    s->apiKey = key;
    s->modelName = model;
    s->requestTimeoutSeconds = 7;
    return s;
}

// What differs between the two cloud providers, for table-driven tests.
struct Cloud {
    AIProviderType provider;
    const char* lookupPath;

    std::string reply(const std::string& text) const {
        const QJsonValue t = QString::fromStdString(text);
        const QJsonObject root =
            provider == AIProviderType::claude
                ? QJsonObject{{"content", QJsonArray{QJsonObject{{"type", "text"}, {"text", t}}}}}
                : QJsonObject{
                      {"choices", QJsonArray{QJsonObject{
                                      {"message", QJsonObject{{"role", "assistant"}, {"content", t}}}}}}};
        return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString();
    }
};

void PrintTo(const Cloud& cloud, std::ostream* out) {
    *out << rawValue(cloud.provider).toStdString();
}

const Cloud claude{AIProviderType::claude, "/v1/messages"};
const Cloud openai{AIProviderType::openai, "/v1/chat/completions"};

class CloudAIServiceTest : public testing::TestWithParam<Cloud> {
protected:
    std::shared_ptr<AIService> make(const QString& key, const QString& model = {}) {
        return makeAIService(GetParam().provider,
                             fixedSettingsSource(settings(GetParam().provider, key, model)),
                             server.endpoints());
    }
    std::optional<int> year(const AIService& ai) {
        return ai.lookupYear(u("Take On Me"), u("a-ha"), u("Hunting High and Low"), u("take.mp3"));
    }

    LoopbackServer server;
};

} // namespace

TEST(CloudAIService, RequestsCarryTheExactHeadersBodyAndTimeout) {
    LoopbackServer server;
    const auto s = settings(AIProviderType::claude, u("k"));
    const ClaudeAIService claudeAI(fixedSettingsSource(s), server.endpoints());
    HttpRequest r = claudeAI.buildLookupRequest(*s, u("sk-ant"), u("PROMPT"), 100);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.url.toString(), server.url("/v1/messages"));
    using H = QList<QPair<QByteArray, QByteArray>>;
    EXPECT_EQ(r.headers, (H{{"x-api-key", "sk-ant"},
                            {"anthropic-version", "2023-06-01"},
                            {"content-type", "application/json"}}));
    EXPECT_EQ(QJsonDocument::fromJson(r.body).object(),
              QJsonObject({{"model", "claude-haiku-4-5-20251001"},
                           {"max_tokens", 100},
                           {"messages", QJsonArray{QJsonObject{{"role", "user"}, {"content", "PROMPT"}}}}}));
    EXPECT_EQ(r.timeout, std::chrono::seconds(7));
    r = claudeAI.buildModelListRequest(u("sk-ant"));
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.url.toString(), server.url("/v1/models"));
    EXPECT_EQ(r.headers, (H{{"x-api-key", "sk-ant"}, {"anthropic-version", "2023-06-01"}}));
    EXPECT_EQ(r.timeout, std::chrono::seconds(10));

    const auto o = settings(AIProviderType::openai, u("k"), u("gpt-4.1"));
    const OpenAIService openAI(fixedSettingsSource(o), server.endpoints());
    r = openAI.buildLookupRequest(*o, u("sk-oa"), u("P"), 20);
    EXPECT_EQ(r.url.toString(), server.url("/v1/chat/completions"));
    EXPECT_EQ(r.headers, (H{{"Authorization", "Bearer sk-oa"}, {"Content-Type", "application/json"}}));
    EXPECT_EQ(QJsonDocument::fromJson(r.body).object().value("model"), "gpt-4.1");
    EXPECT_EQ(QJsonDocument::fromJson(r.body).object().value("max_tokens"), 20);
    r = openAI.buildModelListRequest(u("sk-oa"));
    EXPECT_EQ(r.url.toString(), server.url("/v1/models"));
    EXPECT_EQ(r.headers, (H{{"Authorization", "Bearer sk-oa"}}));
}

TEST_P(CloudAIServiceTest, YearLookupSendsOneRequestAndParsesTheAnswer) {
    const Cloud& c = GetParam();
    server.script("POST", c.lookupPath, {{200, c.reply("1987.")}});
    const auto ai = make(u(" sk-key-1\n"));
    EXPECT_EQ(year(*ai), 1987);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.path, c.lookupPath);
    if (c.provider == AIProviderType::claude) {
        EXPECT_EQ(r.header("x-api-key"), "sk-key-1"); // trimmed, no line break in the header
        EXPECT_EQ(r.header("anthropic-version"), "2023-06-01");
        EXPECT_FALSE(r.hasHeader("Authorization"));
    } else {
        EXPECT_EQ(r.header("Authorization"), "Bearer sk-key-1");
        EXPECT_FALSE(r.hasHeader("x-api-key"));
    }
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object();
    EXPECT_EQ(body.value("max_tokens"), 100);
    EXPECT_TRUE(body.value("messages")
                    .toArray()
                    .first()
                    .toObject()
                    .value("content")
                    .toString()
                    .contains(u("- Album: Hunting High and Low\n- Filename: take.mp3")));
}

TEST_P(CloudAIServiceTest, MissingOrUnusableKeysSendNothing) {
    for (const QString& key : {u(""), u(" \t"), u("\n"), u("sk-a\r\nX-Injected: 1")}) {
        const auto ai = make(key);
        EXPECT_FALSE(ai->isAvailable());
        expectThrows(AppError::Kind::aiError, [&] { year(*ai); });
        expectThrows(AppError::Kind::aiError, [&] { ai->lookupGenre(u("T"), u("A"), std::nullopt); });
        EXPECT_TRUE(ai->fetchModels().isEmpty());
    }
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(make(u("sk-a "))->isAvailable());
}

INSTANTIATE_TEST_SUITE_P(Providers, CloudAIServiceTest, testing::Values(claude, openai),
                         [](const auto& info) {
                             return std::string(rawValue(info.param.provider).toStdString());
                         });
