#include "services/ClaudeAIService.h"
#include "services/OpenAIService.h"

#include "ClosedPort.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"
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
    const char* tag;
    const char* errorPrefix;
    const char* parseFailure;
    const char* keyMissing;

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
    *out << cloud.tag;
}

const Cloud claude{AIProviderType::claude,
                   "/v1/messages",
                   "[ClaudeAIService]",
                   "Claude API error ",
                   "Failed to parse Claude response",
                   "Claude API key is missing"};
const Cloud openai{AIProviderType::openai,
                   "/v1/chat/completions",
                   "[OpenAIService]",
                   "OpenAI API error ",
                   "Failed to parse OpenAI response",
                   "OpenAI API key is missing"};

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

AppError lookupError(const std::function<void()>& call) {
    try {
        call();
    } catch (const AppError& e) {
        return e;
    }
    ADD_FAILURE() << "no AppError thrown";
    return AppError::cancelled();
}

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
    testing::internal::CaptureStdout();
    EXPECT_EQ(year(*ai), 1987);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string(c.tag) + " Looking up year for: \"Take On Me\" by \"a-ha\"\n" + c.tag +
                  " Response: \"1987.\" → year: 1987\n");

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

TEST_P(CloudAIServiceTest, AnswerPathsOfTheYearLookup) {
    const Cloud& c = GetParam();
    struct Case {
        LoopbackServer::Response response;
        std::optional<int> year;
        std::optional<AppError> error;
    };
    const std::vector<Case> cases{
        {{200, c.reply("unknown")}, std::nullopt, std::nullopt},
        {{200, c.reply("It came out in 1910, re-released 1985")}, std::nullopt, std::nullopt},
        {{201, c.reply("1987")},
         std::nullopt,
         AppError::aiError(u(c.errorPrefix) + u("201: ") + u(c.reply("1987").c_str()))},
        {{401, R"({"error":{"message":"invalid x-api-key sk-key-1"}})"},
         std::nullopt,
         AppError::aiError(u(c.errorPrefix) +
                           u("401: {\"error\":{\"message\":\"invalid x-api-key [redacted]\"}}"))},
        {{200, R"({"content":[],"choices":[]})"}, std::nullopt, AppError::aiError(u(c.parseFailure))},
        {{200, R"({"content":[{"text":1987}],"choices":[{"message":{"content":1987}}]})"},
         std::nullopt,
         AppError::aiError(u(c.parseFailure))},
        {{200, "not json"}, std::nullopt, AppError::aiError(u(c.parseFailure))},
    };
    const auto ai = make(u("sk-key-1"));
    for (const Case& k : cases) {
        server.script("POST", c.lookupPath, {k.response});
        if (k.error) {
            EXPECT_EQ(lookupError([&] { year(*ai); }), *k.error) << k.response.body;
        } else {
            EXPECT_EQ(year(*ai), k.year) << k.response.body;
        }
    }
}

TEST_P(CloudAIServiceTest, LongErrorBodiesAreCutInTheError) {
    const Cloud& c = GetParam();
    server.script("POST", c.lookupPath, {{500, std::string(100000, 'e')}});
    const AppError e = lookupError([&] { year(*make(u("sk"))); });
    EXPECT_EQ(e.kind(), AppError::Kind::aiError);
    EXPECT_EQ(e.text(), u(c.errorPrefix) + u("500: ") + QString(1000, u'e') + u("… (cut)"));
}

TEST_P(CloudAIServiceTest, MissingOrUnusableKeysSendNothing) {
    const Cloud& c = GetParam();
    for (const QString& key : {u(""), u(" \t"), u("\n"), u("sk-a\r\nX-Injected: 1")}) {
        const auto ai = make(key);
        EXPECT_FALSE(ai->isAvailable());
        testing::internal::CaptureStdout();
        EXPECT_EQ(lookupError([&] { year(*ai); }), AppError::aiError(u(c.keyMissing)));
        EXPECT_EQ(lookupError([&] { ai->lookupGenre(u("T"), u("A"), std::nullopt); }),
                  AppError::aiError(u(c.keyMissing)));
        EXPECT_TRUE(ai->fetchModels().isEmpty());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(make(u("sk-a "))->isAvailable());
}

TEST_P(CloudAIServiceTest, GenreLookupReadsStrictlyAndDropsSentences) {
    const Cloud& c = GetParam();
    const auto ai = make(u("sk"));
    const auto genre = [&] {
        return ai->lookupGenre(u("Blue Monday"), u("New Order"), u(""));
    };

    server.script("POST", c.lookupPath, {{200, c.reply(" Synth-Pop\n")}});
    testing::internal::CaptureStdout();
    EXPECT_EQ(genre(), u("Synth-Pop"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string(c.tag) + " Genre response: \"Synth-Pop\"\n");
    const QJsonObject body =
        QJsonDocument::fromJson(QByteArray::fromStdString(server.requests().back().body)).object();
    EXPECT_EQ(body.value("max_tokens"), 20);

    server.script("POST", c.lookupPath,
                  {{200, c.reply("I am not sure which genre this song belongs to, maybe Pop")}});
    EXPECT_EQ(genre(), std::nullopt);
    server.script("POST", c.lookupPath, {{200, c.reply("Unknown")}});
    EXPECT_EQ(genre(), std::nullopt);
    server.script("POST", c.lookupPath, {{500, c.reply("Pop")}});
    EXPECT_EQ(lookupError([&] { genre(); }).kind(), AppError::Kind::aiError);
}

TEST_P(CloudAIServiceTest, RefusedConnectionIsANetworkError) {
    Endpoints closed;
    closed.anthropicMessages = closedLoopbackUrl() + "/v1/messages";
    closed.anthropicModels = closedLoopbackUrl() + "/v1/models";
    closed.openAIChat = closedLoopbackUrl() + "/v1/chat/completions";
    closed.openAIModels = closedLoopbackUrl() + "/v1/models";
    const auto ai = makeAIService(GetParam().provider,
                                  fixedSettingsSource(settings(GetParam().provider, u("sk"))), closed);
    EXPECT_EQ(lookupError([&] { year(*ai); }).kind(), AppError::Kind::networkError);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(ai->fetchModels().isEmpty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(GetParam().tag) + " fetchModels failed\n");
}

TEST_P(CloudAIServiceTest, ModelListsAnswersAndFailures) {
    const Cloud& c = GetParam();
    const auto ai = make(u("sk-list\n"));
    server.script(
        "GET", "/v1/models",
        {{200, R"({"data":[{"id":"o3-mini"},{"id":"gpt-4o-mini"},{"id":"dall-e-3"},{"id":"whisper-1"},)"
               R"({"id":"chatgpt-4o-latest"},{"id":"O1x"},{"id":"o1-mini"},{"id":"claude-3"},{"id":5}],)"
               R"("has_more":false})"}});
    const QStringList models = ai->fetchModels();
    if (c.provider == AIProviderType::openai) {
        EXPECT_EQ(models, QStringList({"gpt-4o-mini", "o1-mini", "o3-mini"}));
        EXPECT_EQ(server.requests().back().header("Authorization"), "Bearer sk-list");
    } else {
        EXPECT_EQ(models, QStringList({"O1x", "chatgpt-4o-latest", "claude-3", "dall-e-3", "gpt-4o-mini",
                                       "o1-mini", "o3-mini", "whisper-1"}));
        EXPECT_EQ(server.requests().back().header("x-api-key"), "sk-list");
        EXPECT_FALSE(server.requests().back().hasHeader("Content-Type"));
    }

    server.script("GET", "/v1/models", {{200, R"({"data":[]})"}});
    testing::internal::CaptureStdout();
    EXPECT_TRUE(ai->fetchModels().isEmpty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), ""); // an empty list is no failure

    for (const auto& bad : std::vector<LoopbackServer::Response>{
             {401, R"({"data":[{"id":"gpt-x"}]})"}, {200, R"({"data":"x"})"}, {200, "["}, {200, R"([])"}}) {
        server.script("GET", "/v1/models", {bad});
        testing::internal::CaptureStdout();
        EXPECT_TRUE(ai->fetchModels().isEmpty());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(c.tag) + " fetchModels failed\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Providers, CloudAIServiceTest, testing::Values(claude, openai),
                         [](const auto& info) {
                             return std::string(rawValue(info.param.provider).toStdString());
                         });
