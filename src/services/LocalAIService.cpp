#include "services/LocalAIService.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "services/AIPromptBuilder.h"
#include "services/Redaction.h"

LocalAIService::LocalAIService(Config config, SettingsSource settings, HttpClient http)
    : m_config(std::move(config)), m_settings(std::move(settings)), m_http(http) {}

QUrl LocalAIService::requireLookupUrl(const SettingsSnapshot& settings, bool withAddress) const {
    const AIExchange::Address address = AIExchange::localAddress(settings, m_config.lookupPath);
    if (!address.url) {
        QString text = QStringLiteral("Invalid ") + m_config.serverName + QStringLiteral(" endpoint");
        if (withAddress) {
            text += QStringLiteral(": ") + Redaction::text(address.text);
        }
        throw AppError::aiError(text);
    }
    return *address.url;
}

HttpRequest LocalAIService::buildLookupRequest(const SettingsSnapshot& settings, const QUrl& url,
                                               const QString& prompt, int maxTokens) const {
    HttpRequest request;
    request.method = QByteArrayLiteral("POST");
    request.url = url;
    request.headers = {{QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")}};
    request.body = m_config.bodyForm == BodyForm::chat
                       ? AIExchange::chatBody(settings.effectiveModelName(), maxTokens, prompt)
                       : AIExchange::generateBody(settings.effectiveModelName(), prompt);
    request.timeout = AIExchange::lookupTimeout(settings);
    AIExchange::addOptionalBearerKey(request, settings, m_config.providerType);
    return request;
}

std::optional<int> LocalAIService::lookupYear(const QString& title, const QString& artist,
                                              const std::optional<QString>& album, const QString& fileName,
                                              const CancelToken& cancel) const {
    const std::shared_ptr<const SettingsSnapshot> settings = m_settings();
    const QUrl url = requireLookupUrl(*settings, true);
    const QString prompt = AIPromptBuilder::buildYearPrompt(title, artist, album, fileName);
    AIExchange::printLookingUp(m_config.texts.tag, title, artist);
    const HttpRequest request = buildLookupRequest(*settings, url, prompt, yearMaxTokens);
    const HttpResponse response = AIExchange::send(m_http, request, cancel);
    const QString reply =
        AIExchange::readStrict(response, m_config.replyPath, m_config.texts, request.secrets);
    const std::optional<int> year = AIPromptBuilder::parseYear(reply);
    AIExchange::printYearResponse(m_config.texts.tag, reply, year);
    return year;
}

std::optional<QString> LocalAIService::lookupGenre(const QString& title, const QString& artist,
                                                   const std::optional<QString>& album,
                                                   const CancelToken& cancel) const {
    const std::shared_ptr<const SettingsSnapshot> settings = m_settings();
    const QUrl url = requireLookupUrl(*settings, false);
    const QString prompt = AIPromptBuilder::buildGenrePrompt(title, artist, album);
    const HttpRequest request = buildLookupRequest(*settings, url, prompt, genreMaxTokens);
    const HttpResponse response = AIExchange::send(m_http, request, cancel);
    const std::optional<QString> reply = AIExchange::readLenient(response, m_config.replyPath);
    if (!reply) {
        return std::nullopt;
    }
    return AIPromptBuilder::parseGenre(*reply, m_config.texts.genreResponsePrefix());
}

bool LocalAIService::isAvailable(const CancelToken& cancel) const {
    const std::shared_ptr<const SettingsSnapshot> settings = m_settings();
    const AIExchange::Address address = AIExchange::localAddress(*settings, m_config.modelListPath);
    const QString& tag = m_config.texts.tag;
    if (!address.url) {
        Console::line(tag + QStringLiteral(" Invalid ") + m_config.modelListName +
                      QStringLiteral(" endpoint: ") + Redaction::text(address.text));
        return false;
    }
    HttpRequest request;
    request.url = *address.url;
    request.timeout = availabilityTimeout;
    AIExchange::addOptionalBearerKey(request, *settings, m_config.providerType);
    try {
        const HttpResponse response = m_http.send(request, cancel);
        const bool available = response.status == 200;
        Console::line(tag + QStringLiteral(" Availability check: ") +
                      (available ? QStringLiteral("available") : QStringLiteral("unavailable")) +
                      QStringLiteral(" (HTTP ") + QString::number(response.status) + QLatin1Char(')'));
        return available;
    } catch (const HttpError& error) {
        Console::line(tag + QStringLiteral(" Server not reachable: ") + error.description());
        return false;
    }
}

QStringList LocalAIService::fetchModels(const CancelToken& cancel) const {
    const std::shared_ptr<const SettingsSnapshot> settings = m_settings();
    const AIExchange::Address address = AIExchange::localAddress(*settings, m_config.modelListPath);
    if (!address.url) {
        return {};
    }
    HttpRequest request;
    request.url = *address.url;
    request.timeout = modelListTimeout;
    AIExchange::addOptionalBearerKey(request, *settings, m_config.providerType);
    const QString failed = m_config.texts.tag + QStringLiteral(" fetchModels failed");
    try {
        const HttpResponse response = m_http.send(request, cancel);
        std::optional<QStringList> ids;
        if (response.status == 200) {
            ids = AIExchange::modelIds(response.body, m_config.modelListField, m_config.modelIdField);
        }
        if (!ids) {
            Console::line(failed);
            return {};
        }
        return *ids;
    } catch (const HttpError&) {
        Console::line(failed);
        return {};
    }
}
