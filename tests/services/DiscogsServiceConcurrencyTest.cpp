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

    // A token cancelled beforehand sends nothing.
    server.clearRequests();
    EXPECT_FALSE(discogs.lookupGenre(QStringLiteral("t"), QStringLiteral("a"), cancel));
    EXPECT_TRUE(server.requests().empty());
}
