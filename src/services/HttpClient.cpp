#include "services/HttpClient.h"

#include "services/Redaction.h"

#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

std::atomic<bool> g_loopbackOnly{false};
std::atomic<std::uint64_t> g_cancelledSends{0};

constexpr long kMaxRedirects = 5;

bool isCredentialHeader(const QByteArray& name) {
    const QByteArray lower = name.trimmed().toLower();
    return lower == "authorization" || lower == "proxy-authorization" || lower == "x-api-key" ||
           lower == "cookie";
}

bool hasHeader(const HttpRequest& request, const char* name) {
    return std::any_of(request.headers.begin(), request.headers.end(), [name](const auto& h) {
        return h.first.trimmed().compare(name, Qt::CaseInsensitive) == 0;
    });
}

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// State shared with libcurl's callbacks during one exchange.
struct Exchange {
    qint64 maxBody = 0;
    bool tooLarge = false;
    bool blocked = false;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* ex = static_cast<Exchange*>(user);
    const size_t n = size * count;
    if (static_cast<qint64>(n) > ex->maxBody - ex->body.size()) {
        ex->tooLarge = true;
        return 0; // aborts the transfer
    }
    ex->body.append(data, static_cast<qsizetype>(n));
    return n;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* ex = static_cast<Exchange*>(user);
    const size_t n = size * count;
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(n)).trimmed();
    if (line.startsWith("HTTP/")) {
        ex->headers.clear(); // a new answer of a redirect chain begins
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        ex->headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return n;
}

bool isLoopbackSockaddr(const curl_sockaddr* address) {
    if (address->family == AF_INET) {
        sockaddr_in in{};
        std::memcpy(&in, &address->addr, std::min<size_t>(sizeof in, address->addrlen));
        return (ntohl(in.sin_addr.s_addr) >> 24) == 127;
    }
    if (address->family == AF_INET6) {
        sockaddr_in6 in6{};
        std::memcpy(&in6, &address->addr, std::min<size_t>(sizeof in6, address->addrlen));
        if (IN6_IS_ADDR_LOOPBACK(&in6.sin6_addr)) {
            return true;
        }
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
            return in6.sin6_addr.s6_addr[12] == 127;
        }
    }
    return false;
}

// Opens the socket for libcurl; with the loopback-only switch on, refuses
// every address that is not loopback (also after a redirect or a name lookup).
curl_socket_t onOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    auto* ex = static_cast<Exchange*>(user);
    if (g_loopbackOnly.load() && !isLoopbackSockaddr(address)) {
        ex->blocked = true;
        return CURL_SOCKET_BAD;
    }
    return ::socket(address->family, address->socktype, address->protocol);
}

// Addresses that never go through a proxy: the loopback names, plus what the
// environment lists.
std::string noProxyList() {
    std::string list = "localhost,127.0.0.1,::1";
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        if (const char* value = std::getenv(name); value && *value) {
            list += ',';
            list += value;
            break;
        }
    }
    return list;
}

// Failures before the server was reached; a second try a moment later ends the same way.
bool isUnreachable(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return true;
    default:
        return false;
    }
}

struct CurlEasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct CurlMultiDeleter {
    void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};
struct CurlSlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

} // namespace

QStringList HttpRequest::allSecrets() const {
    QStringList all;
    for (const QString& s : secrets) {
        if (!s.isEmpty()) {
            all.append(s);
        }
    }
    for (const auto& [name, value] : headers) {
        if (isCredentialHeader(name) && !value.trimmed().isEmpty()) {
            all.append(QString::fromUtf8(value.trimmed()));
            // "Bearer abc" also hides "abc" on its own.
            const qsizetype space = value.trimmed().indexOf(' ');
            if (space > 0) {
                all.append(QString::fromUtf8(value.trimmed().mid(space + 1).trimmed()));
            }
        }
    }
    return all;
}

bool HttpRequest::carriesCredentials() const {
    return !allSecrets().isEmpty();
}

QByteArray HttpResponse::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

HttpError::HttpError(Kind kind, QString description)
    : m_kind(kind), m_description(std::move(description)), m_what(m_description.toUtf8()) {}

SourceFailure HttpError::sourceFailure(const QString& source) const {
    switch (m_kind) {
    case Kind::unreachable:
        return {source, SourceFailure::Reason::unreachable, m_description};
    case Kind::timedOut:
        return {source, SourceFailure::Reason::timedOut, {}};
    case Kind::invalidUrl:
    case Kind::blockedHost:
    case Kind::cancelled:
    case Kind::tooLarge:
    case Kind::transport:
        break;
    }
    return {source, SourceFailure::Reason::failed, m_description};
}

void HttpClient::setLoopbackOnly(bool on) {
    g_loopbackOnly.store(on);
}

bool HttpClient::isLoopbackOnly() {
    return g_loopbackOnly.load();
}

std::uint64_t HttpClient::cancelledSends() {
    return g_cancelledSends.load();
}

bool HttpClient::isLoopbackHost(const QString& host) {
    QString h = host;
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']'))) {
        h = h.mid(1, h.size() - 2);
    }
    if (h.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    const QByteArray text = h.toLatin1();
    in_addr v4{};
    if (inet_pton(AF_INET, text.constData(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.constData(), &v6) == 1) {
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    }
    return false;
}

HttpResponse HttpClient::send(const HttpRequest& request, const CancelToken& cancel) const {
    const QStringList secrets = request.allSecrets();
    const auto clean = [&secrets](const QString& text) {
        return Redaction::text(text, secrets);
    };

    if (cancel.isCancelled()) {
        throw HttpError(HttpError::Kind::cancelled, QStringLiteral("cancelled"));
    }
    const QString scheme = request.url.scheme().toLower();
    if (!request.url.isValid() || request.url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        throw HttpError(HttpError::Kind::invalidUrl,
                        QStringLiteral("unsupported URL: ") + Redaction::url(request.url));
    }
    if (g_loopbackOnly.load() && !isLoopbackHost(request.url.host())) {
        throw HttpError(HttpError::Kind::blockedHost,
                        QStringLiteral("request to a non-loopback host refused: ") + request.url.host());
    }
    for (const auto& [name, value] : request.headers) {
        // A line break would end the header and start another one.
        if (name.contains('\r') || name.contains('\n') || value.contains('\r') || value.contains('\n') ||
            name.contains('\0') || value.contains('\0')) {
            throw HttpError(HttpError::Kind::transport, QStringLiteral("header with a line break refused"));
        }
    }
    if (request.timeout.count() <= 0) {
        throw HttpError(HttpError::Kind::timedOut, QStringLiteral("The request timed out."));
    }

    initCurlOnce();
    std::unique_ptr<CURL, CurlEasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, CurlMultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) {
        throw HttpError(HttpError::Kind::transport, QStringLiteral("could not set up the HTTP client"));
    }
    CURL* h = easy.get();

    Exchange ex;
    ex.maxBody = std::max<qint64>(0, request.maxBodyBytes);
    char errorBuffer[CURL_ERROR_SIZE] = {};

    const QByteArray url = request.url.toEncoded(QUrl::FullyEncoded);
    const std::string noProxy = noProxyList();
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_NOPROXY, noProxy.c_str());
    if (g_loopbackOnly.load()) {
        // Not even a proxy from the environment may carry a request off the machine.
        curl_easy_setopt(h, CURLOPT_PROXY, "");
    }
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(ex.maxBody));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &ex);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &ex);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &onOpenSocket);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, &ex);
    const bool follow = !request.carriesCredentials();
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);

    const QByteArray method = request.method.toUpper();
    if (method == "GET") {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.constData());
    }
    if (method == "POST" || !request.body.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.constData());
    }

    curl_slist* rawList = nullptr;
    auto append = [&rawList](const QByteArray& line) {
        if (curl_slist* next = curl_slist_append(rawList, line.constData())) {
            rawList = next;
        }
    };
    for (const auto& [name, value] : request.headers) {
        // "Name;" sends a header with an empty value; "Name:" would remove it.
        append(value.isEmpty() ? name + ';' : name + ": " + value);
    }
    // Keep libcurl from adding headers the caller did not ask for.
    if (!hasHeader(request, "Accept")) {
        append("Accept:");
    }
    if (!hasHeader(request, "Expect")) {
        append("Expect:");
    }
    if (!hasHeader(request, "Content-Type")) {
        append("Content-Type:");
    }
    std::unique_ptr<curl_slist, CurlSlistDeleter> headerList(rawList);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());

    const auto deadline = std::chrono::steady_clock::now() + request.timeout;
    CURLcode result = CURLE_OK;
    bool cancelled = false;
    bool timedOut = false;
    curl_multi_add_handle(multi.get(), h);
    {
        // A cancel wakes the poll below at once.
        CURLM* m = multi.get();
        const CancelToken::Registration wake = cancel.onCancel([m] { curl_multi_wakeup(m); });
        int running = 1;
        while (true) {
            if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
            if (running == 0) {
                int queued = 0;
                while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued)) {
                    if (msg->msg == CURLMSG_DONE) {
                        result = msg->data.result;
                    }
                }
                break;
            }
            if (cancel.isCancelled()) {
                cancelled = true;
                break;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                timedOut = true;
                break;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
            curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(std::min<long long>(left, 1000)),
                            nullptr);
        }
    }
    curl_multi_remove_handle(multi.get(), h);

    if (cancelled) {
        ++g_cancelledSends;
        throw HttpError(HttpError::Kind::cancelled, QStringLiteral("cancelled"));
    }
    if (timedOut || result == CURLE_OPERATION_TIMEDOUT) {
        throw HttpError(HttpError::Kind::timedOut, QStringLiteral("The request timed out."));
    }
    if (ex.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        throw HttpError(HttpError::Kind::tooLarge,
                        QStringLiteral("The response is larger than %1 bytes.").arg(ex.maxBody));
    }
    if (ex.blocked) {
        throw HttpError(HttpError::Kind::blockedHost,
                        QStringLiteral("connection to a non-loopback address refused"));
    }
    if (result != CURLE_OK) {
        QString text = QString::fromUtf8(errorBuffer).trimmed();
        if (text.isEmpty()) {
            text = QString::fromUtf8(curl_easy_strerror(result));
        }
        throw HttpError(isUnreachable(result) ? HttpError::Kind::unreachable : HttpError::Kind::transport,
                        clean(text));
    }

    HttpResponse response;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status <= 0) {
        throw HttpError(HttpError::Kind::transport, QStringLiteral("no HTTP answer"));
    }
    response.status = static_cast<int>(status);
    response.headers = std::move(ex.headers);
    response.body = std::move(ex.body);
    return response;
}
