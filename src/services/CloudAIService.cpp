#include "services/CloudAIService.h"

#include "model/AppError.h"
#include "services/AIPromptBuilder.h"

CloudAIService::CloudAIService(Config config, SettingsSource settings, HttpClient http)
    : m_config(std::move(config)), m_settings(std::move(settings)), m_http(http) {}

bool CloudAIService::offersModel(const QString&) const {
    return true;
}

QString CloudAIService::requireKey(const SettingsSnapshot& settings) const {
    const std::optional<QString> key = AIExchange::usableKey(settings.apiKey(providerType()));
    if (!key) {
        throw AppError::aiError(m_config.keyMissing);
    }
    return *key;
}

HttpRequest CloudAIService::buildLookupRequest(const SettingsSnapshot& settings, const QString& key,
                                               const QString& prompt, int maxTokens) const {
    HttpRequest request;
    request.method = QByteArrayLiteral("POST");
    request.url = AIExchange::usableUrl(m_config.lookupAddress).value_or(QUrl());
    request.headers = authHeaders(key);
    request.headers.append({contentTypeName(), QByteArrayLiteral("application/json")});
    request.body = AIExchange::chatBody(settings.effectiveModelName(), maxTokens, prompt);
    request.timeout = AIExchange::lookupTimeout(settings);
    request.secrets = {key};
    return request;
}

HttpRequest CloudAIService::buildModelListRequest(const QString& key) const {
    HttpRequest request;
    request.url = AIExchange::usableUrl(m_config.modelListAddress).value_or(QUrl());
    request.headers = authHeaders(key);
    request.timeout = AIExchange::modelListTimeout;
    request.secrets = {key};
    return request;
}

QString CloudAIService::ask(const SettingsSnapshot& settings, const QString& key, const QString& prompt,
                            int maxTokens, const CancelToken& cancel) const {
    const HttpRequest request = buildLookupRequest(settings, key, prompt, maxTokens);
    if (request.url.isEmpty()) {
        throw AppError::aiError(m_config.invalidEndpoint);
    }
    const HttpResponse response = AIExchange::send(m_http, request, cancel);
    return AIExchange::readStrict(response, m_config.replyPath, m_config.texts, request.secrets);
}

std::optional<int> CloudAIService::lookupYear(const QString& title, const QString& artist,
                                              const std::optional<QString>& album, const QString& fileName,
                                              const CancelToken& cancel) const {
    const std::shared_ptr<const SettingsSnapshot> settings = m_settings();
    const QString key = requireKey(*settings);
    return AIExchange::askYear(m_config.texts.tag, title, artist, album, fileName,
                               [&](const QString& prompt) {
                                   return ask(*settings, key, prompt, AIExchange::yearMaxTokens, cancel);
                               });
}

std::optional<QString> CloudAIService::lookupGenre(const QString& title, const QString& artist,
                                                   const std::optional<QString>& album,
                                                   const CancelToken& cancel) const {
    const std::shared_ptr<const SettingsSnapshot> settings = m_settings();
    const QString key = requireKey(*settings);
    const QString prompt = AIPromptBuilder::buildGenrePrompt(title, artist, album);
    const QString reply = ask(*settings, key, prompt, AIExchange::genreMaxTokens, cancel);
    return AIPromptBuilder::parseGenre(reply, m_config.texts.genreResponsePrefix());
}

bool CloudAIService::isAvailable(const CancelToken&, SourceFailures*, const QString&) const {
    return AIExchange::usableKey(m_settings()->apiKey(providerType())).has_value();
}

QStringList CloudAIService::fetchModels(const CancelToken& cancel) const {
    const std::optional<QString> key = AIExchange::usableKey(m_settings()->apiKey(providerType()));
    if (!key) {
        return {};
    }
    QStringList offered;
    for (const QString& id :
         AIExchange::fetchModelIds(m_http, buildModelListRequest(*key), cancel, m_config.texts.tag,
                                   QStringLiteral("data"), QStringLiteral("id"))) {
        if (offersModel(id)) {
            offered.append(id);
        }
    }
    return offered;
}
