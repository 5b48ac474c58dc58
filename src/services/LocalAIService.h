#pragma once

#include "services/AIExchange.h"
#include "services/AIService.h"
#include "services/HttpClient.h"

// What the providers on a server of the user's own choosing share (Ollama,
// LM Studio, an OpenAI-compatible server): the address from the settings
// (effectiveEndpoint, slashes stripped from both ends), a bearer key only for a
// provider that has one of its own (`custom`; never another provider's), availability
// through a short model-list request, strict year and lenient genre readings.
class LocalAIService : public AIService {
public:
    AIProviderType providerType() const override { return m_config.providerType; }

    std::optional<int> lookupYear(const QString& title, const QString& artist,
                                  const std::optional<QString>& album, const QString& fileName,
                                  const CancelToken& cancel = CancelToken()) const override;
    // True exactly when the model list answers with status 200 within 5 seconds.
    bool isAvailable(const CancelToken& cancel = CancelToken(), SourceFailures* failures = nullptr,
                     const QString& source = {}) const override;
    QStringList fetchModels(const CancelToken& cancel = CancelToken()) const override;
    std::optional<QString> lookupGenre(const QString& title, const QString& artist,
                                       const std::optional<QString>& album,
                                       const CancelToken& cancel = CancelToken()) const override;

    // The lookup request for a prompt to a usable address, as it is sent.
    HttpRequest buildLookupRequest(const SettingsSnapshot& settings, const QUrl& url, const QString& prompt,
                                   int maxTokens) const;

    static constexpr std::chrono::milliseconds availabilityTimeout{5000};

protected:
    enum class BodyForm { chat, generate };
    struct Config {
        AIProviderType providerType;
        AIProviderTexts texts;
        QString serverName; // "Ollama", in "Invalid Ollama endpoint"
        QString lookupPath; // "/api/generate"
        BodyForm bodyForm;
        AIReplyPath replyPath;
        QString modelListPath;  // "/api/tags"
        QString modelListName;  // "tags", in "Invalid tags endpoint: "
        QString modelListField; // "models"
        QString modelIdField;   // "name"
    };
    LocalAIService(Config config, SettingsSource settings, HttpClient http);
    // The settings of a server with OpenAI's interface: the chat form at
    // "/v1/chat/completions", the models from "/v1/models" in "data"[]."id".
    static Config openAICompatible(AIProviderType providerType, AIProviderTexts texts, QString serverName);

private:
    QUrl requireLookupUrl(const SettingsSnapshot& settings, bool withAddress) const;

    Config m_config;
    SettingsSource m_settings;
    HttpClient m_http;
};
