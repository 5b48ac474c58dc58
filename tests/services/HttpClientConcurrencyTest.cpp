#include "LoopbackServer.h"

#include "services/CancelToken.h"
#include "services/HttpClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(CancelTokenConcurrencyTest, CancelWakesEverySleeperAndRunsCallbacksOnce) {
    CancelToken token;
    std::atomic<int> callbackRuns{0};
    auto registration = token.onCancel([&] { ++callbackRuns; });
    std::atomic<int> wokeEarly{0};
    std::vector<std::thread> sleepers;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) {
        sleepers.emplace_back([token, &wokeEarly] {
            if (!token.sleepFor(30s)) {
                ++wokeEarly;
            }
        });
    }
    std::this_thread::sleep_for(50ms);
    std::thread([token] { token.cancel(); }).join();
    token.cancel(); // a second cancel changes nothing
    for (auto& t : sleepers) {
        t.join();
    }
    EXPECT_EQ(wokeEarly.load(), 4);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(callbackRuns.load(), 1);

    // Registering after the cancel runs the callback at once; sleeping returns false at once.
    bool ranNow = false;
    auto late = token.onCancel([&] { ranNow = true; });
    EXPECT_TRUE(ranNow);
    EXPECT_FALSE(token.sleepFor(10s));
}

TEST(HttpClientConcurrencyTest, CancelAbortsARequestInFlightAtOnce) {
    LoopbackServer server;
    LoopbackServer::Response slow(200, "{}");
    slow.delay = 20s;
    LoopbackServer::Response trickle(200, std::string(1000, 'x'));
    trickle.trickleInterval = 20ms;
    server.script("GET", "/slow", {slow});
    server.script("GET", "/trickle", {trickle});

    for (const char* path : {"/slow", "/trickle"}) {
        CancelToken token;
        HttpRequest request;
        request.url = QUrl(server.url(path));
        request.timeout = 30s;
        std::thread canceller([token] {
            std::this_thread::sleep_for(150ms);
            token.cancel();
        });
        const auto start = std::chrono::steady_clock::now();
        HttpError::Kind kind = HttpError::Kind::transport;
        try {
            HttpClient().send(request, token);
            ADD_FAILURE() << "request finished";
        } catch (const HttpError& e) {
            kind = e.kind();
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        canceller.join();
        EXPECT_EQ(kind, HttpError::Kind::cancelled) << path;
        EXPECT_LT(elapsed, 900ms) << path; // not the next one-second poll, nor the deadline
    }
}

TEST(HttpClientConcurrencyTest, ManyThreadsShareOneClient) {
    LoopbackServer server;
    server.handle("GET", "/echo", [](const LoopbackServer::Request& r) {
        return LoopbackServer::Response(200, "n=" + r.query("n"));
    });
    const HttpClient client;
    std::atomic<int> correct{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                const std::string n = std::to_string(t * 100 + i);
                HttpRequest request;
                request.url = QUrl(server.url("/echo?n=" + n));
                if (client.send(request).body.toStdString() == "n=" + n) {
                    ++correct;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(correct.load(), 40);
    EXPECT_EQ(server.requests().size(), 40u);
}
