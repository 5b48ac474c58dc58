#pragma once

#include "services/CloudAIService.h"
#include "services/Endpoints.h"

// OpenAI's Chat Completions API: a bearer key, the answer in
// "choices"[0]."message"."content"; the model list keeps the chat models
// ("gpt-", "o1", "o3").
class OpenAIService : public CloudAIService {
public:
    explicit OpenAIService(SettingsSource settings, const Endpoints& endpoints = Endpoints(),
                           HttpClient http = HttpClient());

    AIProviderType providerType() const override { return AIProviderType::openai; }

protected:
    QList<QPair<QByteArray, QByteArray>> authHeaders(const QString& key) const override;
    QByteArray contentTypeName() const override { return QByteArrayLiteral("Content-Type"); }
    bool offersModel(const QString& id) const override;
};
