#include "services/ClaudeAIService.h"

ClaudeAIService::ClaudeAIService(SettingsSource settings, const Endpoints& endpoints,
                                 QString anthropicVersion, HttpClient http)
    : CloudAIService(
          Config{
              AIProviderTexts{QStringLiteral("[ClaudeAIService]"), QStringLiteral("Invalid response type"),
                              QStringLiteral("Claude API error "),
                              QStringLiteral("Failed to parse Claude response")},
              QStringLiteral("Claude API key is missing"),
              QStringLiteral("Invalid Claude endpoint URL"),
              endpoints.anthropicMessages,
              endpoints.anthropicModels,
              AIReplyPath::anthropicContent,
          },
          std::move(settings), http),
      m_anthropicVersion(std::move(anthropicVersion)) {}

QList<QPair<QByteArray, QByteArray>> ClaudeAIService::authHeaders(const QString& key) const {
    return {{QByteArrayLiteral("x-api-key"), key.toUtf8()},
            {QByteArrayLiteral("anthropic-version"), m_anthropicVersion.toUtf8()}};
}
