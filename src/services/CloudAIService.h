#pragma once

#include "services/AIExchange.h"
#include "services/AIService.h"
#include "services/HttpClient.h"

#include <QUrl>

// What Anthropic's and OpenAI's providers share: the user's API key, the chat
// form, the strict reading of every answer and a key-protected model list.
// A subclass supplies its addresses, texts and authentication headers.
class CloudAIService : public AIService {
public:
    std::optional<int> lookupYear(const QString& title, const QString& artist,
                                  const std::optional<QString>& album, const QString& fileName,
                                  const CancelToken& cancel = CancelToken()) const override;
    // True exactly when a usable key is set; sends nothing.
    bool isAvailable(const CancelToken& cancel = CancelToken(), SourceFailures* failures = nullptr,
                     const QString& source = {}) const override;
    QStringList fetchModels(const CancelToken& cancel = CancelToken()) const override;
    std::optional<QString> lookupGenre(const QString& title, const QString& artist,
                                       const std::optional<QString>& album,
                                       const CancelToken& cancel = CancelToken()) const override;

    // The lookup request for a prompt (key already checked), as it is sent.
    HttpRequest buildLookupRequest(const SettingsSnapshot& settings, const QString& key,
                                   const QString& prompt, int maxTokens) const;
    // The model list request, as it is sent.
    HttpRequest buildModelListRequest(const QString& key) const;

protected:
    struct Config {
        AIProviderTexts texts;
        QString keyMissing;      // "Claude API key is missing"
        QString invalidEndpoint; // "Invalid Claude endpoint URL"
        QString lookupAddress;
        QString modelListAddress;
        AIReplyPath replyPath;
    };
    CloudAIService(Config config, SettingsSource settings, HttpClient http);

    // The authentication headers, in the order they are sent.
    virtual QList<QPair<QByteArray, QByteArray>> authHeaders(const QString& key) const = 0;
    // The spelling of the content type header name.
    virtual QByteArray contentTypeName() const = 0;
    // Whether a listed model is offered.
    virtual bool offersModel(const QString& id) const;

private:
    QString ask(const SettingsSnapshot& settings, const QString& key, const QString& prompt, int maxTokens,
                const CancelToken& cancel) const;
    QString requireKey(const SettingsSnapshot& settings) const;

    Config m_config;
    SettingsSource m_settings;
    HttpClient m_http;
};
