#include "services/CustomAIService.h"

CustomAIService::CustomAIService(SettingsSource settings, HttpClient http)
    : LocalAIService(
          openAICompatible(AIProviderType::custom,
                           AIProviderTexts{QStringLiteral("[CustomAIService]"),
                                           QStringLiteral("Invalid response type from custom server"),
                                           QStringLiteral("Custom server error "),
                                           QStringLiteral("Failed to parse custom server response")},
                           QStringLiteral("custom")),
          std::move(settings), http) {}
