#include "services/LMStudioService.h"

LMStudioService::LMStudioService(SettingsSource settings, HttpClient http)
    : LocalAIService(
          Config{
              AIProviderType::lmstudio,
              AIProviderTexts{
                  QStringLiteral("[LMStudioService]"), QStringLiteral("Invalid response type from LM Studio"),
                  QStringLiteral("LM Studio error "), QStringLiteral("Failed to parse LM Studio response")},
              QStringLiteral("LM Studio"),
              QStringLiteral("/v1/chat/completions"),
              BodyForm::chat,
              AIReplyPath::chatChoices,
              QStringLiteral("/v1/models"),
              QStringLiteral("models"),
              QStringLiteral("data"),
              QStringLiteral("id"),
          },
          std::move(settings), http) {}
