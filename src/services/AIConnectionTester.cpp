#include "services/AIConnectionTester.h"

#include "model/AppLanguage.h"
#include "model/TextUtil.h"
#include "services/AIExchange.h"
#include "services/AIServiceFactory.h"
#include "services/ClaudeAIService.h"

namespace {

// Every verdict begins with one of these; the rest is a number or curl's own text.
const TextPair apiKeyMissing{"API-Schlüssel fehlt", "API key missing"};
const TextPair invalidUrl{"Ungültige URL", "Invalid URL"};
const TextPair noEndpoint{"Kein Endpoint konfiguriert", "No endpoint configured"};
const TextPair invalidEndpoint{"Ungültige Endpoint-URL", "Invalid endpoint URL"};
const TextPair invalidResponse{"Ungültige Antwort", "Invalid response"};
const TextPair connected{"Verbindung erfolgreich (", "Connection successful ("};
const TextPair authFailed{"Authentifizierung fehlgeschlagen (", "Authentication failed ("};
const TextPair serverError{"Server-Fehler ", "Server error "};
const TextPair noConnection{"Keine Verbindung: ", "No connection: "};
const TextPair phrases[] = {apiKeyMissing, invalidUrl, noEndpoint,  invalidEndpoint, invalidResponse,
                            connected,     authFailed, serverError, noConnection};

AIConnectionTester::Result failure(const SettingsSnapshot& settings, const TextPair& phrase) {
    return {false, localizedText(phrase, settings.appLanguage)};
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
            return failure(settings, apiKeyMissing);
        }
        const bool claude = provider == AIProviderType::claude;
        const std::optional<QUrl> url =
            AIExchange::usableUrl(claude ? m_endpoints.anthropicModels : m_endpoints.openAIModels);
        if (!url) {
            return failure(settings, invalidUrl);
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
        return failure(settings, noEndpoint);
    }
    // The same address the lookups and the availability check use.
    const QString path =
        provider == AIProviderType::ollama ? QStringLiteral("/api/tags") : QStringLiteral("/v1/models");
    const AIExchange::Address address = AIExchange::localAddress(settings, path);
    if (!address.url) {
        return failure(settings, invalidEndpoint);
    }
    request.url = *address.url;
    request.timeout = provider == AIProviderType::custom ? customTimeout : localTimeout;
    AIExchange::addOptionalBearerKey(request, settings, provider);
    return request;
}

AIConnectionTester::Result AIConnectionTester::classify(int status, const SettingsSnapshot& settings) {
    const QString number = QString::number(status);
    if (status <= 0) {
        return failure(settings, invalidResponse);
    }
    if (status >= 200 && status <= 299) {
        return {true, localizedText(connected, settings.appLanguage) + number + QLatin1Char(')')};
    }
    if (status == 401 || status == 403) {
        return {false, localizedText(authFailed, settings.appLanguage) + number + QLatin1Char(')')};
    }
    return {false, localizedText(serverError, settings.appLanguage) + number};
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
        return {false, localizedText(noConnection, settings.appLanguage) + error.description()};
    }
}

QString AIConnectionTester::relocalized(const QString& message, const SettingsSnapshot& settings) {
    for (const TextPair& phrase : phrases) {
        for (const QString& said : {phrase.de, phrase.en}) {
            if (message.startsWith(said)) {
                return localizedText(phrase, settings.appLanguage) + message.mid(said.size());
            }
        }
    }
    return message;
}

QStringList AIConnectionTester::fetchModels(std::shared_ptr<const SettingsSnapshot> settings,
                                            const CancelToken& cancel) const {
    const AIProviderType provider = settings->selectedProvider;
    return makeAIService(provider, fixedSettingsSource(std::move(settings)), m_endpoints, m_http)
        ->fetchModels(cancel);
}
