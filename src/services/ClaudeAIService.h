#pragma once

#include "services/CloudAIService.h"
#include "services/Endpoints.h"

// Anthropic's Messages API: x-api-key and anthropic-version headers, the
// answer in "content"[0]."text"; the model list from the Models API.
class ClaudeAIService : public CloudAIService {
public:
    static constexpr const char* defaultAnthropicVersion = "2023-06-01";

    ClaudeAIService(SettingsSource settings, const Endpoints& endpoints = Endpoints(),
                    QString anthropicVersion = QString::fromLatin1(defaultAnthropicVersion),
                    HttpClient http = HttpClient());

    AIProviderType providerType() const override { return AIProviderType::claude; }

protected:
    QList<QPair<QByteArray, QByteArray>> authHeaders(const QString& key) const override;
    QByteArray contentTypeName() const override { return QByteArrayLiteral("content-type"); }

private:
    QString m_anthropicVersion;
};
