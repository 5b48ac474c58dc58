#include "services/SpotifyService.h"

#include "ConsoleCapture.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

const QString kId = QStringLiteral("id");
const QString kSecret = QStringLiteral("secret");

// Waits until the server has seen `count` requests to `path`.
bool waitForRequests(const LoopbackServer& server, const std::string& path, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (server.requests(path).size() < count) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Search answers carry the searched title back as the artist id, so each
// lookup can tell its own answer; the artist's genre is "g" + that id.
void scriptEchoServer(LoopbackServer& server, std::chrono::milliseconds searchDelay = 0ms) {
    server.script("POST", "/api/token", {{200, R"({"access_token":"tok","expires_in":3600})"}});
    server.handle("GET", "/v1/search", [searchDelay](const LoopbackServer::Request& r) {
        const std::string q = r.query("q"); // "track:<id> artist:x"
        const std::string id = q.substr(6, q.find(' ') - 6);
        LoopbackServer::Response answer(
            200,
            R"({"tracks":{"items":[{"album":{"release_date":"1999"},"artists":[{"id":")" + id + R"("}]}]}})");
        if (id.rfind("slow", 0) == 0) {
            answer.delay = 10s;
        } else {
            answer.delay = searchDelay;
        }
        return answer;
    });
    for (int i = 0; i < 16; ++i) {
        const std::string id = "t" + std::to_string(i);
        server.script("GET", "/v1/artists/" + id, {{200, R"({"genres":["g)" + id + R"("]})"}});
    }
}

} // namespace

TEST(SpotifyServiceConcurrencyTest, ParallelLookupsEachGetTheirOwnAnswerAndShareTheToken) {
    LoopbackServer server;
    scriptEchoServer(server, 20ms);
    SpotifyService spotify(server.endpoints());
    ConsoleCapture console;

    size_t tokensAfterFirstWave = 0;
    for (int wave = 0; wave < 2; ++wave) {
        std::vector<std::optional<SpotifyLookupResult>> results(16);
        std::vector<std::thread> threads;
        for (int i = 0; i < 16; ++i) {
            threads.emplace_back([&, i] {
                results[i] = spotify.lookup(QStringLiteral("t%1").arg(i), QStringLiteral("x"), kId, kSecret);
            });
        }
        for (auto& t : threads) {
            t.join();
        }
        for (int i = 0; i < 16; ++i) {
            ASSERT_TRUE(results[i]);
            EXPECT_EQ(results[i]->year, 1999);
            EXPECT_EQ(results[i]->genre, QStringLiteral("gt%1").arg(i));
        }
        if (wave == 0) {
            tokensAfterFirstWave = server.requests("/api/token").size();
        }
    }
    // The first wave may race for a token; the second finds it cached.
    EXPECT_GE(tokensAfterFirstWave, 1u);
    EXPECT_LE(tokensAfterFirstWave, 16u);
    EXPECT_EQ(server.requests("/api/token").size(), tokensAfterFirstWave);
    EXPECT_EQ(console.lines().size(), 32);
}

TEST(SpotifyServiceConcurrencyTest, ASlowRequestDoesNotHoldUpOtherLookups) {
    LoopbackServer server;
    scriptEchoServer(server);
    SpotifyService spotify(server.endpoints());
    ConsoleCapture console;
    // Cache a token first, so both lookups below go straight to the search.
    ASSERT_TRUE(spotify.lookup(QStringLiteral("t0"), QStringLiteral("x"), kId, kSecret));

    CancelToken cancelSlow;
    std::thread slow(
        [&] { spotify.lookup(QStringLiteral("slow"), QStringLiteral("x"), kId, kSecret, cancelSlow); });
    ASSERT_TRUE(waitForRequests(server, "/v1/search", 2));

    const auto start = std::chrono::steady_clock::now();
    const auto result = spotify.lookup(QStringLiteral("t1"), QStringLiteral("x"), kId, kSecret);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->genre, QStringLiteral("gt1"));

    cancelSlow.cancel();
    slow.join();
    console.lines();
}

TEST(SpotifyServiceConcurrencyTest, CancelEndsTheLookupAtOnce) {
    // During the token request: nothing, no misleading token line, nothing cached.
    {
        LoopbackServer server;
        LoopbackServer::Response hanging(200, R"({"access_token":"tok","expires_in":3600})");
        hanging.delay = 10s;
        server.script("POST", "/api/token", {hanging});
        SpotifyService spotify(server.endpoints());
        ConsoleCapture console;
        CancelToken cancel;
        std::thread canceller([&] {
            waitForRequests(server, "/api/token", 1);
            cancel.cancel();
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(spotify.lookup(QStringLiteral("t0"), QStringLiteral("x"), kId, kSecret, cancel));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        canceller.join();
        EXPECT_TRUE(console.lines().isEmpty());
        EXPECT_FALSE(spotify.cachedToken());
    }
    // During the artist request: the year found is kept, no further request.
    {
        LoopbackServer server;
        scriptEchoServer(server);
        LoopbackServer::Response hanging(200, R"({"genres":["late"]})");
        hanging.delay = 10s;
        server.script("GET", "/v1/artists/t3", {hanging});
        SpotifyService spotify(server.endpoints());
        ConsoleCapture console;
        CancelToken cancel;
        std::thread canceller([&] {
            waitForRequests(server, "/v1/artists/t3", 1);
            cancel.cancel();
        });
        const auto start = std::chrono::steady_clock::now();
        const auto result = spotify.lookup(QStringLiteral("t3"), QStringLiteral("x"), kId, kSecret, cancel);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        canceller.join();
        EXPECT_EQ(result, (SpotifyLookupResult{1999, std::nullopt}));
        EXPECT_EQ(server.requests().size(), 3u);
        console.lines();
    }
    // Already cancelled: no request at all.
    {
        LoopbackServer server;
        scriptEchoServer(server);
        SpotifyService spotify(server.endpoints());
        CancelToken cancel;
        cancel.cancel();
        EXPECT_FALSE(spotify.lookup(QStringLiteral("t0"), QStringLiteral("x"), kId, kSecret, cancel));
        EXPECT_TRUE(server.requests().empty());
    }
}
