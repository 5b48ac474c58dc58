#include "services/AIConnectionTester.h"

#include "model/AppLanguage.h"
#include "model/TextUtil.h"
#include "services/AIExchange.h"
#include "services/AIServiceFactory.h"
#include "services/ClaudeAIService.h"

namespace {

struct Phrase {
    const char* german;
    const char* english;
};

// Every verdict begins with one of these; the rest is a number or curl's own text.
constexpr Phrase apiKeyMissing{"API-Schlüssel fehlt", "API key missing"};
constexpr Phrase invalidUrl{"Ungültige URL", "Invalid URL"};
constexpr Phrase noEndpoint{"Kein Endpoint konfiguriert", "No endpoint configured"};
constexpr Phrase invalidEndpoint{"Ungültige Endpoint-URL", "Invalid endpoint URL"};
constexpr Phrase invalidResponse{"Ungültige Antwort", "Invalid response"};
constexpr Phrase connected{"Verbindung erfolgreich (", "Connection successful ("};
constexpr Phrase authFailed{"Authentifizierung fehlgeschlagen (", "Authentication failed ("};
constexpr Phrase serverError{"Server-Fehler ", "Server error "};
constexpr Phrase noConnection{"Keine Verbindung: ", "No connection: "};
constexpr Phrase phrases[] = {apiKeyMissing, invalidUrl, noEndpoint,  invalidEndpoint, invalidResponse,
                              connected,     authFailed, serverError, noConnection};

QString text(const SettingsSnapshot& settings, const Phrase& phrase) {
    return QString::fromUtf8(usesEnglish(settings.appLanguage, systemLanguageCode()) ? phrase.english
                                                                                     : phrase.german);
}

AIConnectionTester::Result failure(const SettingsSnapshot& settings, const Phrase& phrase) {
    return {false, text(settings, phrase)};
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
        return {true, text(settings, connected) + number + QLatin1Char(')')};
    }
    if (status == 401 || status == 403) {
        return {false, text(settings, authFailed) + number + QLatin1Char(')')};
    }
    return {false, text(settings, serverError) + number};
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
        return {false, text(settings, noConnection) + error.description()};
    }
}

QString AIConnectionTester::relocalized(const QString& message, const SettingsSnapshot& settings) {
    for (const Phrase& phrase : phrases) {
        for (const char* said : {phrase.german, phrase.english}) {
            const QString saidText = QString::fromUtf8(said);
            if (message.startsWith(saidText)) {
                return text(settings, phrase) + message.mid(saidText.size());
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
