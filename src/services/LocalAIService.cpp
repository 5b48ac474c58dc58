#include "services/LocalAIService.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "services/AIPromptBuilder.h"
#include "services/Redaction.h"

LocalAIService::LocalAIService(Config config, SettingsSource settings, HttpClient http)
    : m_config(std::move(config)), m_settings(std::move(settings)), m_http(http) {}

LocalAIService::Config LocalAIService::openAICompatible(AIProviderType providerType, AIProviderTexts texts,
                                                        QString serverName) {
    return Config{
        providerType,
        std::move(texts),
        std::move(serverName),
        QStringLiteral("/v1/chat/completions"),
        BodyForm::chat,
        AIReplyPath::chatChoices,
        QStringLiteral("/v1/models"),
        QStringLiteral("models"),
        QStringLiteral("data"),
        QStringLiteral("id"),
    };
}

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
    return AIExchange::askYear(
        m_config.texts.tag, title, artist, album, fileName, [&](const QString& prompt) {
            const HttpRequest request = buildLookupRequest(*settings, url, prompt, AIExchange::yearMaxTokens);
            const HttpResponse response = AIExchange::send(m_http, request, cancel);
            return AIExchange::readStrict(response, m_config.replyPath, m_config.texts, request.secrets);
        });
}

std::optional<QString> LocalAIService::lookupGenre(const QString& title, const QString& artist,
                                                   const std::optional<QString>& album,
                                                   const CancelToken& cancel) const {
    const std::shared_ptr<const SettingsSnapshot> settings = m_settings();
    const QUrl url = requireLookupUrl(*settings, false);
    const QString prompt = AIPromptBuilder::buildGenrePrompt(title, artist, album);
    const HttpRequest request = buildLookupRequest(*settings, url, prompt, AIExchange::genreMaxTokens);
    const HttpResponse response = AIExchange::send(m_http, request, cancel);
    const std::optional<QString> reply = AIExchange::readLenient(response, m_config.replyPath);
    if (!reply) {
        return std::nullopt;
    }
    return AIPromptBuilder::parseGenre(*reply, m_config.texts.genreResponsePrefix());
}

bool LocalAIService::isAvailable(const CancelToken& cancel, SourceFailures* failures,
                                 const QString& source) const {
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
        if (!available) {
            SourceFailures::note(
                failures, {source, SourceFailure::Reason::httpStatus, QString::number(response.status)});
        }
        return available;
    } catch (const HttpError& error) {
        Console::line(tag + QStringLiteral(" Server not reachable: ") + error.description());
        if (error.kind() != HttpError::Kind::cancelled) {
            SourceFailures::note(failures, error.sourceFailure(source));
        }
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
    request.timeout = AIExchange::modelListTimeout;
    AIExchange::addOptionalBearerKey(request, *settings, m_config.providerType);
    return AIExchange::fetchModelIds(m_http, request, cancel, m_config.texts.tag, m_config.modelListField,
                                     m_config.modelIdField);
}
