#include "services/CustomAIService.h"
#include "services/LMStudioService.h"
#include "services/OllamaService.h"

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

// What differs between the local providers, for table-driven tests.
struct Local {
    AIProviderType provider;
    const char* name; // in the invalid-endpoint texts
    const char* lookupPath;
    const char* modelsPath;
    const char* modelsName; // in the invalid address line
    const char* tag;
    const char* errorPrefix;
    const char* parseFailure;

    bool generate() const { return provider == AIProviderType::ollama; }
    std::string reply(const QJsonValue& text) const {
        const QJsonObject root =
            generate() ? QJsonObject{{"model", "llama3.2"}, {"response", text}, {"done", true}}
                       : QJsonObject{{"choices",
                                      QJsonArray{QJsonObject{{"message", QJsonObject{{"content", text}}}}}}};
        return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString();
    }
    std::string models(const std::vector<const char*>& ids) const {
        QJsonArray list;
        for (const char* id : ids) {
            list.append(QJsonObject{{generate() ? "name" : "id", id}});
        }
        return QJsonDocument(QJsonObject{{generate() ? "models" : "data", list}}).toJson().toStdString();
    }
};

void PrintTo(const Local& local, std::ostream* out) {
    *out << local.tag;
}

const Local ollama{AIProviderType::ollama,
                   "Ollama",
                   "/api/generate",
                   "/api/tags",
                   "tags",
                   "[OllamaService]",
                   "Ollama error ",
                   "Failed to parse Ollama response"};
const Local lmstudio{AIProviderType::lmstudio,
                     "LM Studio",
                     "/v1/chat/completions",
                     "/v1/models",
                     "models",
                     "[LMStudioService]",
                     "LM Studio error ",
                     "Failed to parse LM Studio response"};
const Local custom{AIProviderType::custom,
                   "custom",
                   "/v1/chat/completions",
                   "/v1/models",
                   "models",
                   "[CustomAIService]",
                   "Custom server error ",
                   "Failed to parse custom server response"};

AppError lookupError(const std::function<void()>& call) {
    try {
        call();
    } catch (const AppError& e) {
        return e;
    }
    ADD_FAILURE() << "no AppError thrown";
    return AppError::cancelled();
}

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
    const Local& p = GetParam();
    const QString endpoint = server.baseUrl().replace(u("127.0.0.1"), u("127.0.0 .1"));
    const auto ai = make(endpoint);
    EXPECT_EQ(lookupError([&] { year(*ai); }),
              AppError::aiError(u("Invalid ") + u(p.name) + u(" endpoint: ") + endpoint + u(p.lookupPath)));
    EXPECT_EQ(lookupError([&] { genre(*ai); }),
              AppError::aiError(u("Invalid ") + u(p.name) + u(" endpoint")));
    EXPECT_FALSE(ai->isAvailable());
    EXPECT_TRUE(ai->fetchModels().isEmpty());
    EXPECT_TRUE(server.requests().empty());
}

INSTANTIATE_TEST_SUITE_P(Providers, LocalAIServiceTest, testing::Values(ollama, lmstudio, custom),
                         [](const auto& info) { return rawValue(info.param.provider).toStdString(); });
