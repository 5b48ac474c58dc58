#include "services/AIConnectionTester.h"

#include "model/AppLanguage.h"
#include "model/TextUtil.h"
#include "services/AIExchange.h"
#include "services/AIServiceFactory.h"
#include "services/ClaudeAIService.h"

namespace {

QString text(const SettingsSnapshot& settings, const QString& german, const QString& english) {
    return usesEnglish(settings.appLanguage, systemLanguageCode()) ? english : german;
}

AIConnectionTester::Result failure(const SettingsSnapshot& settings, const char* german,
                                   const char* english) {
    return {false, text(settings, QString::fromUtf8(german), QString::fromUtf8(english))};
}

} // namespace

AIConnectionTester::AIConnectionTester(Endpoints endpoints, HttpClient http)
    : m_endpoints(std::move(endpoints)), m_http(http) {}

std::variant<HttpRequest, AIConnectionTester::Result>
AIConnectionTester::buildRequest(const SettingsSnapshot& settings) const {
    HttpRequest request;
    const AIProviderType provider = settings.selectedProvider;
    if (provider == AIProviderType::claude || provider == AIProviderType::openai) {
        // The key as every lookup uses it.
        const std::optional<QString> key = AIExchange::usableKey(settings.apiKey(provider));
        if (!key) {
            return failure(settings, "API-Schlüssel fehlt", "API key missing");
        }
        const bool claude = provider == AIProviderType::claude;
        const std::optional<QUrl> url =
            AIExchange::usableUrl(claude ? m_endpoints.anthropicModels : m_endpoints.openAIModels);
        if (!url) {
            return failure(settings, "Ungültige URL", "Invalid URL");
        }
        request.url = *url;
        request.timeout = cloudTimeout;
        request.secrets = {*key};
        if (claude) {
            request.headers = {{QByteArrayLiteral("x-api-key"), key->toUtf8()},
                               {QByteArrayLiteral("anthropic-version"),
                                QByteArray(ClaudeAIService::defaultAnthropicVersion)}};
        } else {
            request.headers = {
                {QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + key->toUtf8()}};
        }
        return request;
    }

    if (provider == AIProviderType::custom && TextUtil::trimWsNl(settings.customEndpoint).isEmpty()) {
        return failure(settings, "Kein Endpoint konfiguriert", "No endpoint configured");
    }
    // The same address the lookups and the availability check use.
    const QString path =
        provider == AIProviderType::ollama ? QStringLiteral("/api/tags") : QStringLiteral("/v1/models");
    const AIExchange::Address address = AIExchange::localAddress(settings, path);
    if (!address.url) {
        return failure(settings, "Ungültige Endpoint-URL", "Invalid endpoint URL");
    }
    request.url = *address.url;
    request.timeout = provider == AIProviderType::custom ? customTimeout : localTimeout;
    AIExchange::addOptionalBearerKey(request, settings, provider);
    return request;
}

AIConnectionTester::Result AIConnectionTester::classify(int status, const SettingsSnapshot& settings) {
    const QString number = QString::number(status);
    if (status <= 0) {
        return failure(settings, "Ungültige Antwort", "Invalid response");
    }
    if (status >= 200 && status <= 299) {
        return {true, text(settings, QStringLiteral("Verbindung erfolgreich ("),
                           QStringLiteral("Connection successful (")) +
                          number + QLatin1Char(')')};
    }
    if (status == 401 || status == 403) {
        return {false, text(settings, QStringLiteral("Authentifizierung fehlgeschlagen ("),
                            QStringLiteral("Authentication failed (")) +
                           number + QLatin1Char(')')};
    }
    return {false,
            text(settings, QStringLiteral("Server-Fehler "), QStringLiteral("Server error ")) + number};
}

AIConnectionTester::Result AIConnectionTester::run(const SettingsSnapshot& settings,
                                                   const CancelToken& cancel) const {
    std::variant<HttpRequest, Result> built = buildRequest(settings);
    if (Result* early = std::get_if<Result>(&built)) {
        return *early;
    }
    try {
        const HttpResponse response = m_http.send(std::get<HttpRequest>(built), cancel);
        return classify(response.status, settings);
    } catch (const HttpError& error) {
        return {false,
                text(settings, QStringLiteral("Keine Verbindung: "), QStringLiteral("No connection: ")) +
                    error.description()};
    }
}

QStringList AIConnectionTester::fetchModels(std::shared_ptr<const SettingsSnapshot> settings,
                                            const CancelToken& cancel) const {
    const AIProviderType provider = settings->selectedProvider;
    return makeAIService(provider, fixedSettingsSource(std::move(settings)), m_endpoints, m_http)
        ->fetchModels(cancel);
}
