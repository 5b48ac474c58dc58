#include "LoopbackServer.h"

#include "services/HttpClient.h"
#include "services/UrlQuery.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

HttpRequest get(const QString& url) {
    HttpRequest r;
    r.url = QUrl(url, QUrl::StrictMode);
    return r;
}

HttpError::Kind failureKind(const HttpRequest& request, const CancelToken& cancel = CancelToken()) {
    try {
        HttpClient().send(request, cancel);
    } catch (const HttpError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "request succeeded";
    return HttpError::Kind::transport;
}

} // namespace

TEST(HttpClientTest, SendsExactlyTheGivenHeadersAndReturnsAnyStatus) {
    LoopbackServer server;
    LoopbackServer::Response notFound(404, R"({"error":6})");
    notFound.headers = {{"Retry-After", "3"}};
    server.script("GET", "/a", {notFound});

    HttpRequest request = get(server.url("/a"));
    request.headers = {{"User-Agent", "Velmora/1.0"}};
    const HttpResponse response = HttpClient().send(request);

    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(response.body, R"({"error":6})");
    EXPECT_EQ(response.header("retry-after"), "3");
    ASSERT_EQ(server.requests().size(), 1u);
    const auto received = server.requests().at(0);
    EXPECT_EQ(received.method, "GET");
    EXPECT_EQ(received.header("User-Agent"), "Velmora/1.0");
    EXPECT_FALSE(received.hasHeader("Accept"));
    EXPECT_FALSE(received.hasHeader("Content-Type"));
}

TEST(HttpClientTest, PostsTheBodyWithTheCallersContentType) {
    LoopbackServer server;
    server.script("POST", "/v1/messages", {{200, R"({"ok":true})"}});
    HttpRequest request = get(server.url("/v1/messages"));
    request.method = "POST";
    request.headers = {{"content-type", "application/json"}};
    request.body = R"({"model":"m"})";
    EXPECT_EQ(HttpClient().send(request).status, 200);
    const auto received = server.requests().at(0);
    EXPECT_EQ(received.body, R"({"model":"m"})");
    EXPECT_EQ(received.header("Content-Type"), "application/json");
    EXPECT_FALSE(received.hasHeader("Expect"));
}

TEST(HttpClientTest, QueryValuesArriveByteForByte) {
    LoopbackServer server;
    server.script("GET", "/q", {{200, "{}"}});
    const QString tricky = QStringLiteral("A+B C&d=\"e\"\\/é?#%");
    UrlQuery query;
    query.add(QStringLiteral("query"), tricky).add(QStringLiteral("fmt"), QStringLiteral("json"));
    const std::optional<QUrl> url = UrlQuery::withQuery(server.url("/q"), query);
    ASSERT_TRUE(url.has_value());
    HttpRequest request;
    request.url = *url;
    HttpClient().send(request);

    const auto received = server.requests().at(0);
    ASSERT_EQ(received.params.size(), 2u);
    EXPECT_EQ(received.params[0].first, "query");
    EXPECT_EQ(QString::fromStdString(received.params[0].second), tricky);
    EXPECT_EQ(received.params[1], (std::pair<std::string, std::string>{"fmt", "json"}));
    EXPECT_NE(received.target.find("A%2BB%20C%26d%3D%22e%22%5C%2F%C3%A9%3F%23%25"), std::string::npos)
        << received.target;
}

TEST(HttpClientTest, DeadlineCoversTheWholeExchange) {
    LoopbackServer server;
    LoopbackServer::Response slow(200, "{}");
    slow.delay = 3s;
    LoopbackServer::Response trickle(200, std::string(100, 'x'));
    trickle.trickleInterval = 40ms; // a byte every 40 ms: never idle, 4 s in all
    server.script("GET", "/slow", {slow});
    server.script("GET", "/trickle", {trickle});

    for (const char* path : {"/slow", "/trickle"}) {
        HttpRequest request = get(server.url(path));
        request.timeout = 300ms;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(failureKind(request), HttpError::Kind::timedOut) << path;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms) << path;
    }
}

// A body of exactly the cap arrives; one byte more fails, with and without a
// Content-Length (chunked answers must be stopped by the running count).
TEST(HttpClientTest, BodiesAboveTheCapFail) {
    LoopbackServer server;
    for (const std::size_t size : {1000, 1001}) {
        LoopbackServer::Response chunked(200, std::string(size, 'b'));
        chunked.trickleInterval = 1ms;
        chunked.trickleBytes = 400;
        server.script("GET", "/plain" + std::to_string(size), {{200, std::string(size, 'a')}});
        server.script("GET", "/chunked" + std::to_string(size), {chunked});
        for (const char* kind : {"/plain", "/chunked"}) {
            HttpRequest request = get(server.url(kind + std::to_string(size)));
            request.maxBodyBytes = 1000;
            if (size == 1000) {
                EXPECT_EQ(HttpClient().send(request).body.size(), 1000) << kind;
            } else {
                EXPECT_EQ(failureKind(request), HttpError::Kind::tooLarge) << kind;
            }
        }
    }
    server.script("GET", "/big", {{200, std::string(5 * 1024 * 1024, 'a')}});
    EXPECT_EQ(failureKind(get(server.url("/big"))), HttpError::Kind::tooLarge); // default 4 MiB cap
}

TEST(HttpClientTest, RedirectsAreFollowedOnlyWithoutCredentials) {
    LoopbackServer origin;
    LoopbackServer other;
    LoopbackServer::Response moved(302);
    moved.headers = {{"Location", other.url("/landing").toStdString()}};
    origin.script("GET", "/start", {moved});
    other.script("GET", "/landing", {{200, "landed"}});

    const HttpResponse plain = HttpClient().send(get(origin.url("/start")));
    EXPECT_EQ(plain.status, 200);
    EXPECT_EQ(plain.body, "landed");
    EXPECT_EQ(other.requests().size(), 1u);
    other.clearRequests();

    HttpRequest withKey = get(origin.url("/start?api_key=k"));
    withKey.secrets = {QStringLiteral("k")};
    HttpRequest withHeader = get(origin.url("/start"));
    withHeader.headers = {{"x-api-key", "sk-secret"}};
    HttpRequest withBearer = get(origin.url("/start"));
    withBearer.headers = {{"Authorization", "Bearer tok"}};
    for (const HttpRequest& request : {withKey, withHeader, withBearer}) {
        EXPECT_EQ(HttpClient().send(request).status, 302);
    }
    EXPECT_TRUE(other.requests().empty());
}

TEST(HttpClientTest, LoopbackGuardRefusesOtherHostsAndRedirectsToThem) {
    ASSERT_TRUE(HttpClient::isLoopbackOnly());
    EXPECT_EQ(failureKind(get(QStringLiteral("http://192.0.2.1/x"))), HttpError::Kind::blockedHost);
    EXPECT_EQ(failureKind(get(QStringLiteral("https://musicbrainz.org/ws/2/recording"))),
              HttpError::Kind::blockedHost);

    LoopbackServer server;
    LoopbackServer::Response away(302);
    away.headers = {{"Location", "http://192.0.2.1/x"}};
    server.script("GET", "/away", {away});
    EXPECT_EQ(failureKind(get(server.url("/away"))), HttpError::Kind::blockedHost);

    for (const char* host : {"127.0.0.1", "127.1.2.3", "::1", "[::1]", "localhost", "LOCALHOST"}) {
        EXPECT_TRUE(HttpClient::isLoopbackHost(QString::fromLatin1(host))) << host;
    }
    for (const char* host : {"128.0.0.1", "10.0.0.1", "localhost.example", "::2", ""}) {
        EXPECT_FALSE(HttpClient::isLoopbackHost(QString::fromLatin1(host))) << host;
    }
}

TEST(HttpClientTest, TransportErrorsCarryNoSecret) {
    int closedPort = 0;
    {
        LoopbackServer gone;
        closedPort = gone.port();
    }
    HttpRequest request =
        get(QStringLiteral("http://user:pw@127.0.0.1:%1/2.0/?api_key=SECRETKEY&x=1").arg(closedPort));
    request.secrets = {QStringLiteral("SECRETKEY")};
    request.headers = {{"Authorization", "Bearer TOKEN123"}};
    try {
        HttpClient().send(request);
        FAIL() << "connection to a closed port succeeded";
    } catch (const HttpError& e) {
        EXPECT_EQ(e.kind(), HttpError::Kind::transport);
        EXPECT_FALSE(e.description().isEmpty());
        for (const char* secret : {"SECRETKEY", "TOKEN123", "pw@"}) {
            EXPECT_FALSE(e.description().contains(QLatin1String(secret))) << e.description().toStdString();
        }
    }
}
