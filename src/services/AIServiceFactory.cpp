#include "services/AIServiceFactory.h"

#include "model/AppSettings.h"
#include "services/ClaudeAIService.h"
#include "services/CustomAIService.h"
#include "services/LMStudioService.h"
#include "services/OllamaService.h"
#include "services/OpenAIService.h"

SettingsSource sharedSettingsSource() {
    return [] {
        return AppSettings::snapshot();
    };
}

SettingsSource fixedSettingsSource(std::shared_ptr<const SettingsSnapshot> snapshot) {
    return [snapshot = std::move(snapshot)] {
        return snapshot;
    };
}

std::shared_ptr<AIService> makeAIService(AIProviderType provider, SettingsSource settings,
                                         const Endpoints& endpoints, HttpClient http) {
    switch (provider) {
    case AIProviderType::claude:
        return std::make_shared<ClaudeAIService>(
            std::move(settings), endpoints, QString::fromLatin1(ClaudeAIService::defaultAnthropicVersion),
            http);
    case AIProviderType::openai:
        return std::make_shared<OpenAIService>(std::move(settings), endpoints, http);
    case AIProviderType::ollama:
        return std::make_shared<OllamaService>(std::move(settings), http);
    case AIProviderType::lmstudio:
        return std::make_shared<LMStudioService>(std::move(settings), http);
    case AIProviderType::custom:
        return std::make_shared<CustomAIService>(std::move(settings), http);
    }
    return std::make_shared<ClaudeAIService>(
        std::move(settings), endpoints, QString::fromLatin1(ClaudeAIService::defaultAnthropicVersion), http);
}

std::shared_ptr<AIService> makeAIService(SettingsSource settings, const Endpoints& endpoints,
                                         HttpClient http) {
    const AIProviderType provider = settings()->selectedProvider;
    return makeAIService(provider, std::move(settings), endpoints, http);
}
