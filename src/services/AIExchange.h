#pragma once

#include "model/AppError.h"
#include "model/SettingsSnapshot.h"
#include "model/SourceFailure.h"
#include "services/CancelToken.h"
#include "services/HttpClient.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

// Where the answer text sits in a provider's reply.
enum class AIReplyPath {
    anthropicContent, // "content"[0]."text"
    chatChoices,      // "choices"[0]."message"."content"
    generateResponse, // "response"
};

// The texts one provider puts into its console lines and errors.
struct AIProviderTexts {
    QString tag;             // "[ClaudeAIService]"
    QString invalidResponse; // answer without an HTTP status
    QString errorPrefix;     // "Claude API error " (status and body follow)
    QString parseFailure;    // the reply path leads to no text

    QString genreResponsePrefix() const { return tag + QStringLiteral(" Genre response: "); }
};

// The request-and-answer exchange that every AI provider follows: bodies,
// key and address rules, sending, and the strict and lenient readings.
class AIExchange {
public:
    static constexpr int yearMaxTokens = 100;
    static constexpr int genreMaxTokens = 20;
    static constexpr std::chrono::milliseconds modelListTimeout{10000};

    // The stored key as it is used everywhere: trimmed of white space and line
    // breaks; none when that leaves nothing or a control character remains
    // (so no header can ever carry a line break).
    static std::optional<QString> usableKey(const QString& stored);

    // Adds "Authorization: Bearer <key>" with the key entered for `provider`
    // (and the key to the request's secrets) when that key is usable; adds
    // nothing for a provider without one (an optional key, as `custom` has).
    static void addOptionalBearerKey(HttpRequest& request, const SettingsSnapshot& settings,
                                     AIProviderType provider);

    // Chat form: {"model", "max_tokens", "messages": [{"role": "user", "content"}]}.
    static QByteArray chatBody(const QString& model, int maxTokens, const QString& prompt);
    // Generate form: {"model", "prompt", "stream": false}.
    static QByteArray generateBody(const QString& model, const QString& prompt);

    // The time-out of a lookup request: SettingsSnapshot::boundedTimeoutSeconds.
    static std::chrono::milliseconds lookupTimeout(const SettingsSnapshot& settings);

    // A local server's request address: effectiveEndpoint with every "/"
    // removed from both ends, followed by `path`. The text is returned also
    // when it is no usable address (for messages); `url` is set only for an
    // absolute http or https address with a host.
    struct Address {
        QString text;
        std::optional<QUrl> url;
    };
    static Address localAddress(const SettingsSnapshot& settings, const QString& path);
    static std::optional<QUrl> usableUrl(const QString& text);

    // Sends one request. A transport failure becomes AppError::networkError
    // with the client's (secret-free) description and the HttpError nested in
    // it (see transportFailure), a cancellation AppError::cancelled.
    static HttpResponse send(const HttpClient& http, const HttpRequest& request, const CancelToken& cancel);
    // How the request behind an error of send() failed, named as every lookup
    // source names it (HttpError::sourceFailure) under `source`; none for an
    // error that did not come from a failed send.
    static std::optional<SourceFailure> transportFailure(const AppError& error, const QString& source);

    // The answer text along the reply path, or none (no JSON object, a step
    // missing, an empty list, a value of another type).
    static std::optional<QString> replyText(const QByteArray& body, AIReplyPath path);

    // Strict reading: status exactly 200 and a text along the reply path, else
    // AppError::aiError (the error body, cut and cleaned of `secrets`, is put
    // into the console line and the error).
    static QString readStrict(const HttpResponse& response, AIReplyPath path, const AIProviderTexts& texts,
                              const QStringList& secrets);
    // Lenient reading: status ignored; the text along the reply path, or none.
    static std::optional<QString> readLenient(const HttpResponse& response, AIReplyPath path);

    // An answer body made fit for a message: decoded as UTF-8 ("unknown" when
    // it is none), every secret removed, cut to `maxMessageChars` characters.
    static QString bodyForMessage(const QByteArray& body, const QStringList& secrets);
    static constexpr int maxMessageChars = 1000;
    // The text cut to `maxMessageChars` characters, marked "… (cut)" when cut.
    static QString cutForMessage(const QString& text);

    // The model identifiers of the answer to a model list request: with status
    // 200, `listField` must be a list of objects; elements whose `idField` is
    // no text are skipped. Sorted by code point. Empty, with "<tag>
    // fetchModels failed" in the console, when the answer has not that shape
    // or the request fails.
    static QStringList fetchModelIds(const HttpClient& http, const HttpRequest& request,
                                     const CancelToken& cancel, const QString& tag, const QString& listField,
                                     const QString& idField);

    // The year question: prints "<tag> Looking up year for: "<title>" by
    // "<artist>"", gets the answer to the year prompt from `ask`, prints
    // "<tag> Response: "<text>" → year: <year|nil>" and returns that year.
    static std::optional<int> askYear(const QString& tag, const QString& title, const QString& artist,
                                      const std::optional<QString>& album, const QString& fileName,
                                      const std::function<QString(const QString& prompt)>& ask);
};
