#include "services/OpenAIService.h"

OpenAIService::OpenAIService(SettingsSource settings, const Endpoints& endpoints, HttpClient http)
    : CloudAIService(
          Config{
              AIProviderTexts{QStringLiteral("[OpenAIService]"), QStringLiteral("Invalid response type"),
                              QStringLiteral("OpenAI API error "),
                              QStringLiteral("Failed to parse OpenAI response")},
              QStringLiteral("OpenAI API key is missing"),
              QStringLiteral("Invalid OpenAI endpoint URL"),
              endpoints.openAIChat,
              endpoints.openAIModels,
              AIReplyPath::chatChoices,
          },
          std::move(settings), http) {}

QList<QPair<QByteArray, QByteArray>> OpenAIService::authHeaders(const QString& key) const {
    return {{QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + key.toUtf8()}};
}

bool OpenAIService::offersModel(const QString& id) const {
    return id.startsWith(QLatin1String("gpt-")) || id.startsWith(QLatin1String("o1")) ||
           id.startsWith(QLatin1String("o3"));
}
