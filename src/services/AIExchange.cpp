#include "services/AIExchange.h"

#include "model/Console.h"
#include "model/TextUtil.h"
#include "services/AIPromptBuilder.h"
#include "services/Redaction.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <algorithm>
#include <exception>

namespace {

std::optional<QJsonObject> jsonObject(const QByteArray& body) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return document.object();
}

std::optional<QJsonObject> firstObject(const QJsonValue& value) {
    if (!value.isArray()) {
        return std::nullopt;
    }
    const QJsonArray array = value.toArray();
    if (array.isEmpty() || !array.first().isObject()) {
        return std::nullopt;
    }
    return array.first().toObject();
}

std::optional<QString> text(const QJsonValue& value) {
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString();
}

} // namespace

std::optional<QString> AIExchange::usableKey(const QString& stored) {
    const QString key = TextUtil::trimWsNl(stored);
    if (key.isEmpty() || std::any_of(key.cbegin(), key.cend(), TextUtil::isControl)) {
        return std::nullopt;
    }
    return key;
}

void AIExchange::addOptionalBearerKey(HttpRequest& request, const SettingsSnapshot& settings,
                                      AIProviderType provider) {
    if (const std::optional<QString> key = usableKey(settings.apiKey(provider))) {
        request.headers.append(
            {QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + key->toUtf8()});
        request.secrets.append(*key);
    }
}

QByteArray AIExchange::chatBody(const QString& model, int maxTokens, const QString& prompt) {
    const QJsonObject message{{QStringLiteral("role"), QStringLiteral("user")},
                              {QStringLiteral("content"), prompt}};
    const QJsonObject body{{QStringLiteral("model"), model},
                           {QStringLiteral("max_tokens"), maxTokens},
                           {QStringLiteral("messages"), QJsonArray{message}}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QByteArray AIExchange::generateBody(const QString& model, const QString& prompt) {
    const QJsonObject body{{QStringLiteral("model"), model},
                           {QStringLiteral("prompt"), prompt},
                           {QStringLiteral("stream"), false}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

std::chrono::milliseconds AIExchange::lookupTimeout(const SettingsSnapshot& settings) {
    return std::chrono::seconds(settings.boundedTimeoutSeconds());
}

std::optional<QUrl> AIExchange::usableUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        return std::nullopt;
    }
    return url;
}

AIExchange::Address AIExchange::localAddress(const SettingsSnapshot& settings, const QString& path) {
    QString base = settings.effectiveEndpoint();
    qsizetype start = 0;
    qsizetype end = base.size();
    while (start < end && base.at(start) == QLatin1Char('/')) {
        ++start;
    }
    while (end > start && base.at(end - 1) == QLatin1Char('/')) {
        --end;
    }
    Address address;
    address.text = base.mid(start, end - start) + path;
    address.url = usableUrl(address.text);
    return address;
}

HttpResponse AIExchange::send(const HttpClient& http, const HttpRequest& request, const CancelToken& cancel) {
    try {
        return http.send(request, cancel);
    } catch (const HttpError& error) {
        if (error.kind() == HttpError::Kind::cancelled) {
            throw AppError::cancelled();
        }
        std::throw_with_nested(AppError::networkError(error.description()));
    }
}

std::optional<SourceFailure> AIExchange::transportFailure(const AppError& error, const QString& source) {
    try {
        std::rethrow_if_nested(error);
    } catch (const HttpError& cause) {
        return cause.sourceFailure(source);
    } catch (...) {
        // send() nests nothing else; whatever else is nested names no transport failure.
    }
    return std::nullopt;
}

std::optional<QString> AIExchange::replyText(const QByteArray& body, AIReplyPath path) {
    const std::optional<QJsonObject> root = jsonObject(body);
    if (!root) {
        return std::nullopt;
    }
    switch (path) {
    case AIReplyPath::anthropicContent: {
        const std::optional<QJsonObject> first = firstObject(root->value(QStringLiteral("content")));
        return first ? text(first->value(QStringLiteral("text"))) : std::nullopt;
    }
    case AIReplyPath::chatChoices: {
        const std::optional<QJsonObject> first = firstObject(root->value(QStringLiteral("choices")));
        if (!first) {
            return std::nullopt;
        }
        const QJsonValue message = first->value(QStringLiteral("message"));
        return message.isObject() ? text(message.toObject().value(QStringLiteral("content"))) : std::nullopt;
    }
    case AIReplyPath::generateResponse:
        return text(root->value(QStringLiteral("response")));
    }
    return std::nullopt;
}

QString AIExchange::bodyForMessage(const QByteArray& body, const QStringList& secrets) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(body);
    if (decoder.hasError()) {
        return QStringLiteral("unknown");
    }
    return cutForMessage(Redaction::text(decoded, secrets));
}

QString AIExchange::readStrict(const HttpResponse& response, AIReplyPath path, const AIProviderTexts& texts,
                               const QStringList& secrets) {
    if (response.status <= 0) {
        throw AppError::networkError(texts.invalidResponse);
    }
    if (response.status != 200) {
        const QString status = QString::number(response.status);
        const QString body = bodyForMessage(response.body, secrets);
        Console::line(texts.tag + QStringLiteral(" HTTP ") + status + QStringLiteral(": ") + body);
        throw AppError::aiError(texts.errorPrefix + status + QStringLiteral(": ") + body);
    }
    std::optional<QString> reply = replyText(response.body, path);
    if (!reply) {
        throw AppError::aiError(texts.parseFailure);
    }
    return *reply;
}

std::optional<QString> AIExchange::readLenient(const HttpResponse& response, AIReplyPath path) {
    return replyText(response.body, path);
}

namespace {

// The model identifiers of a model list answer, or none when it has not the shape.
std::optional<QStringList> modelIds(const QByteArray& body, const QString& listField,
                                    const QString& idField) {
    const std::optional<QJsonObject> root = jsonObject(body);
    if (!root) {
        return std::nullopt;
    }
    const QJsonValue list = root->value(listField);
    if (!list.isArray()) {
        return std::nullopt;
    }
    const QJsonArray array = list.toArray();
    QStringList ids;
    for (const QJsonValue& element : array) {
        if (!element.isObject()) {
            return std::nullopt;
        }
        const QJsonValue id = element.toObject().value(idField);
        if (id.isString()) {
            ids.append(id.toString());
        }
    }
    std::stable_sort(ids.begin(), ids.end(),
                     [](const QString& a, const QString& b) { return TextUtil::compareScalars(a, b) < 0; });
    return ids;
}

} // namespace

QStringList AIExchange::fetchModelIds(const HttpClient& http, const HttpRequest& request,
                                      const CancelToken& cancel, const QString& tag, const QString& listField,
                                      const QString& idField) {
    const QString failed = tag + QStringLiteral(" fetchModels failed");
    try {
        const HttpResponse response = http.send(request, cancel);
        std::optional<QStringList> ids;
        if (response.status == 200) {
            ids = modelIds(response.body, listField, idField);
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

QString AIExchange::cutForMessage(const QString& text) {
    return text.size() > maxMessageChars ? TextUtil::cut(text, maxMessageChars) + QStringLiteral("… (cut)")
                                         : text;
}

std::optional<int> AIExchange::askYear(const QString& tag, const QString& title, const QString& artist,
                                       const std::optional<QString>& album, const QString& fileName,
                                       const std::function<QString(const QString& prompt)>& ask) {
    const QString prompt = AIPromptBuilder::buildYearPrompt(title, artist, album, fileName);
    Console::line(tag + QStringLiteral(" Looking up year for: \"") + title + QStringLiteral("\" by \"") +
                  artist + QLatin1Char('"'));
    const QString reply = ask(prompt);
    const std::optional<int> year = AIPromptBuilder::parseYear(reply);
    Console::line(tag + QStringLiteral(" Response: \"") + cutForMessage(reply) +
                  QStringLiteral("\" → year: ") + (year ? QString::number(*year) : QStringLiteral("nil")));
    return year;
}
