#include "services/CustomAIService.h"

CustomAIService::CustomAIService(SettingsSource settings, HttpClient http)
    : LocalAIService(
          Config{
              AIProviderType::custom,
              AIProviderTexts{QStringLiteral("[CustomAIService]"),
                              QStringLiteral("Invalid response type from custom server"),
                              QStringLiteral("Custom server error "),
                              QStringLiteral("Failed to parse custom server response")},
              QStringLiteral("custom"),
              QStringLiteral("/v1/chat/completions"),
              BodyForm::chat,
              AIReplyPath::chatChoices,
              QStringLiteral("/v1/models"),
              QStringLiteral("models"),
              QStringLiteral("data"),
              QStringLiteral("id"),
          },
          std::move(settings), http) {}
