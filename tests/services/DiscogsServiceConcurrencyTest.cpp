#include "services/DiscogsService.h"

#include "ConsoleCapture.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

DiscogsService makeService(const LoopbackServer& server) {
    return DiscogsService(server.endpoints(), {QStringLiteral("key"), QStringLiteral("secret")});
}

} // namespace

TEST(DiscogsServiceConcurrencyTest, ParallelLookupsEachGetTheirOwnGenre) {
    LoopbackServer server;
    // The release id and its style follow the searched track, so answers cannot be mixed up unseen.
    server.handle("GET", "/database/search", [](const LoopbackServer::Request& r) {
        LoopbackServer::Response answer(200, R"({"results":[{"id":)" + r.query("track") + "}]}");
        answer.delay = 10ms;
        return answer;
    });
    for (int i = 1; i <= 12; ++i) {
        server.script("GET", "/releases/" + std::to_string(i),
                      {{200, R"({"styles":["s)" + std::to_string(i) + R"("]})"}});
    }
    const DiscogsService discogs = makeService(server);
    ConsoleCapture console;

    std::vector<std::optional<QString>> genres(12);
    std::vector<std::thread> threads;
    for (int i = 1; i <= 12; ++i) {
        threads.emplace_back(
            [&, i] { genres[i - 1] = discogs.lookupGenre(QString::number(i), QStringLiteral("a")); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (int i = 1; i <= 12; ++i) {
        EXPECT_EQ(genres[i - 1], QStringLiteral("s%1").arg(i));
    }
    EXPECT_EQ(console.lines().size(), 12);
}

TEST(DiscogsServiceConcurrencyTest, CancelEndsTheLookupAtOnce) {
    LoopbackServer server;
    LoopbackServer::Response hanging(200, R"({"results":[{"style":["late"]}]})");
    hanging.delay = 10s;
    server.script("GET", "/database/search", {hanging});
    const DiscogsService discogs = makeService(server);
    ConsoleCapture console;

    CancelToken cancel;
    std::thread canceller([&] {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (server.requests().empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        cancel.cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(discogs.lookupGenre(QStringLiteral("t"), QStringLiteral("a"), cancel));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    canceller.join();
    // Stopped is not "nothing found".
    EXPECT_TRUE(console.lines().isEmpty());

    // A token cancelled beforehand sends nothing.
    server.clearRequests();
    EXPECT_FALSE(discogs.lookupGenre(QStringLiteral("t"), QStringLiteral("a"), cancel));
    EXPECT_TRUE(server.requests().empty());
}
