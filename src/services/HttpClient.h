#pragma once

#include "model/SourceFailure.h"
#include "services/CancelToken.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <exception>

// One HTTP exchange to send.
struct HttpRequest {
    QByteArray method = QByteArrayLiteral("GET");
    // Absolute http or https address, query already encoded (see UrlQuery).
    QUrl url;
    // Sent in this order and spelling; a name or value holding CR, LF or NUL
    // fails the request before anything is sent. The client adds no header of its own
    // (no Accept, no User-Agent, no Content-Type) beyond Host and, with a
    // body, Content-Length.
    QList<QPair<QByteArray, QByteArray>> headers;
    // Sent for any method when not empty (POST sends an empty body too).
    QByteArray body;
    // The deadline for the whole exchange: connecting, sending, waiting and
    // reading the complete answer. Must be positive.
    std::chrono::milliseconds timeout{10000};
    // A larger answer body fails the request with HttpError::Kind::tooLarge.
    qint64 maxBodyBytes = 4 * 1024 * 1024;
    // Credentials this request carries in its URL or body (API keys, client
    // secrets). They are scrubbed from every error text. A request with a
    // secret, or with an Authorization, Proxy-Authorization, x-api-key or
    // Cookie header, never follows a redirect: the 3xx answer is returned.
    QStringList secrets;

    // The secrets plus the values of the credential headers.
    QStringList allSecrets() const;
    bool carriesCredentials() const;
};

// The answer of the server, whatever its status.
struct HttpResponse {
    int status = 0;
    // Headers of the final answer, in the order received, names as sent.
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // The first header of that name (case-insensitive), or a null array.
    QByteArray header(const QByteArray& name) const;
};

// Why a request produced no answer. The description is fit for the console
// and for error texts: it never holds a secret of the request.
class HttpError : public std::exception {
public:
    enum class Kind {
        invalidUrl,  // not an absolute http(s) address with a host
        blockedHost, // refused by the loopback-only switch (test builds)
        timedOut,    // the deadline passed
        cancelled,   // the cancel token fired
        tooLarge,    // the body exceeded maxBodyBytes
        unreachable, // name not resolved, connection refused, TLS not verified:
                     // nothing reached the server, and waiting will not change that
        transport,   // connection reset, malformed answer, ...
    };

    HttpError(Kind kind, QString description);

    Kind kind() const { return m_kind; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

    // The failure as a lookup source reports it to the user.
    SourceFailure sourceFailure(const QString& source) const;

private:
    Kind m_kind;
    QString m_description;
    QByteArray m_what;
};

// A blocking HTTP client on libcurl. send() may be called from any number of
// threads at once; every call uses its own connection and holds no lock while
// it waits for the network.
//
//     HttpClient http;
//     HttpRequest req;
//     req.url = *UrlQuery::withQuery(endpoints.lastFM, query);
//     req.headers = {{"User-Agent", Endpoints::userAgent()}};
//     req.secrets = {apiKey};
//     HttpResponse res = http.send(req, cancelToken); // throws HttpError
//
// Redirects are followed (at most 5, http and https only) unless the request
// carries credentials. No proxy is used for loopback addresses.
class HttpClient {
public:
    HttpResponse send(const HttpRequest& request, const CancelToken& cancel = CancelToken()) const;

    // Process-wide switch for test programs: when on, every request to a host
    // that is not a loopback address (127.0.0.0/8, ::1, "localhost") fails
    // with Kind::blockedHost before anything is sent; redirects and name
    // resolution are checked too, and no proxy is used. The test support
    // turns it on at start-up.
    static void setLoopbackOnly(bool on);
    static bool isLoopbackOnly();

    static bool isLoopbackHost(const QString& host);
    // How many sends a cancel has ended after they started, in this process:
    // tells a test that a request ended by its cancel and not by its deadline.
    static std::uint64_t cancelledSends();
};
