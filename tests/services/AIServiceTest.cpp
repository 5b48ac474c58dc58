#include "services/AIService.h"

#include "LookupScenario.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace LookupScenario;

// Without a usable key or address nothing is sent and every call fails or is empty.
TEST(AIServiceTest, MissingKeysAndUnusableAddressesSendNothing) {
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
