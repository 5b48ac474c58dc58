#include "services/OllamaService.h"

OllamaService::OllamaService(SettingsSource settings, HttpClient http)
    : LocalAIService(
          Config{
              AIProviderType::ollama,
              AIProviderTexts{
                  QStringLiteral("[OllamaService]"), QStringLiteral("Invalid response type from Ollama"),
                  QStringLiteral("Ollama error "), QStringLiteral("Failed to parse Ollama response")},
              QStringLiteral("Ollama"),
              QStringLiteral("/api/generate"),
              BodyForm::generate,
              AIReplyPath::generateResponse,
              QStringLiteral("/api/tags"),
              QStringLiteral("tags"),
              QStringLiteral("models"),
              QStringLiteral("name"),
          },
          std::move(settings), http) {}
