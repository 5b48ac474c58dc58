#include "services/CustomAIService.h"
#include "services/LMStudioService.h"
#include "services/OllamaService.h"

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

// What differs between the local providers, for table-driven tests.
struct Local {
    AIProviderType provider;
    const char* lookupPath;

    bool generate() const { return provider == AIProviderType::ollama; }
    std::string reply(const QJsonValue& text) const {
        const QJsonObject root =
            generate() ? QJsonObject{{"model", "llama3.2"}, {"response", text}, {"done", true}}
                       : QJsonObject{{"choices",
                                      QJsonArray{QJsonObject{{"message", QJsonObject{{"content", text}}}}}}};
        return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString();
    }
};

void PrintTo(const Local& local, std::ostream* out) {
    *out << rawValue(local.provider).toStdString();
}

const Local ollama{AIProviderType::ollama, "/api/generate"};
const Local lmstudio{AIProviderType::lmstudio, "/v1/chat/completions"};
const Local custom{AIProviderType::custom, "/v1/chat/completions"};

class LocalAIServiceTest : public testing::TestWithParam<Local> {
protected:
    std::shared_ptr<AIService> make(const QString& endpoint, int timeoutSeconds = 30) {
        auto s = std::make_shared<SettingsSnapshot>();
        s->selectedProvider = GetParam().provider;
        s->customEndpoint = endpoint;
        s->apiKey = u("sk-cloud-key-typed-for-claude"); // never leaves the process for these providers
        s->requestTimeoutSeconds = timeoutSeconds;
        return makeAIService(fixedSettingsSource(s));
    }
    std::shared_ptr<AIService> make() { return make(server.baseUrl() + u("//")); }
    std::optional<int> year(const AIService& ai) {
        return ai.lookupYear(u("Song"), u("Band"), std::nullopt, u("s.mp3"));
    }
    std::optional<QString> genre(const AIService& ai) {
        return ai.lookupGenre(u("Song"), u("Band"), std::nullopt);
    }

    LoopbackServer server;
};

} // namespace

TEST_P(LocalAIServiceTest, LookupRequestsHaveTheProvidersFormAndNoKey) {
    const Local& p = GetParam();
    server.script("POST", p.lookupPath, {{200, p.reply("1999")}});
    const auto ai = make();
    EXPECT_EQ(ai->providerType(), p.provider);
    EXPECT_EQ(year(*ai), 1999);
    EXPECT_EQ(genre(*ai), u("1999")); // the genre check knows no genre list
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& r : requests) {
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.path, p.lookupPath); // the trailing slashes of the endpoint are gone
        EXPECT_EQ(r.header("Content-Type"), "application/json");
        EXPECT_FALSE(r.hasHeader("Authorization"));
        EXPECT_FALSE(r.hasHeader("x-api-key"));
        EXPECT_EQ(r.body.find("sk-cloud"), std::string::npos);
    }
    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(requests[0].body)).object();
    const QString model = p.provider == AIProviderType::ollama     ? u("llama3.2")
                          : p.provider == AIProviderType::lmstudio ? u("local-model")
                                                                   : u("");
    EXPECT_EQ(body.value("model"), model);
    if (p.generate()) {
        EXPECT_EQ(body.keys(), QStringList({"model", "prompt", "stream"}));
        EXPECT_EQ(body.value("stream"), false);
        EXPECT_TRUE(body.value("prompt").toString().startsWith(u("What is the original release year")));
    } else {
        EXPECT_EQ(body.keys(), QStringList({"max_tokens", "messages", "model"}));
        EXPECT_EQ(body.value("max_tokens"), 100);
        const QJsonObject genreBody =
            QJsonDocument::fromJson(QByteArray::fromStdString(requests[1].body)).object();
        EXPECT_EQ(genreBody.value("max_tokens"), 20);
    }
}

TEST_P(LocalAIServiceTest, UnusableEndpointFailsBeforeSending) {
    const auto ai = make(server.baseUrl().replace(u("127.0.0.1"), u("127.0.0 .1")));
    expectThrows(AppError::Kind::aiError, [&] { year(*ai); });
    expectThrows(AppError::Kind::aiError, [&] { genre(*ai); });
    EXPECT_FALSE(ai->isAvailable());
    EXPECT_TRUE(ai->fetchModels().isEmpty());
    EXPECT_TRUE(server.requests().empty());
}

INSTANTIATE_TEST_SUITE_P(Providers, LocalAIServiceTest, testing::Values(ollama, lmstudio, custom),
                         [](const auto& info) { return rawValue(info.param.provider).toStdString(); });
