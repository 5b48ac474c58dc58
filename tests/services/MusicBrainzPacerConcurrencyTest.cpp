#include "services/MusicBrainzPacer.h"

#include "LookupScenario.h"
#include "QtPrinters.h"
#include "Threads.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace LookupScenario;
using namespace Threads;
using namespace std::chrono_literals;

// Starts come first come, first served, each an interval after the one before;
// a cancel wakes every waiter at once and leaves no hole in the queue.
TEST(MusicBrainzPacerConcurrencyTest, StartsAreSpacedInTurnAndCancelFreesTheirPlaces) {
    constexpr auto interval = 150ms;
    MusicBrainzPacer pacer(interval);
    const CancelToken plain;
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::thread> threads;
    const Clock::time_point begin = Clock::now();
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            ASSERT_TRUE(pacer.acquire(plain));
            EXPECT_GE(Clock::now() - begin, i * interval) << "start " << i;
            std::lock_guard lock(mutex);
            order.push_back(i);
        });
        std::this_thread::sleep_for(40ms); // arrive in order, each long before its turn
    }
    std::for_each(threads.begin(), threads.end(), [](auto& t) { t.join(); });
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));

    CancelToken doomed;
    std::atomic<int> refused{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] { refused += pacer.acquire(doomed) ? 0 : 1; });
    }
    std::this_thread::sleep_for(30ms);
    Clock::time_point survivorStart;
    std::thread survivor([&] {
        EXPECT_TRUE(pacer.acquire(plain));
        survivorStart = Clock::now();
    });
    std::this_thread::sleep_for(30ms);
    const auto cancelAt = Clock::now();
    const auto joinAll = [&] { std::for_each(waiters.begin(), waiters.end(), [](auto& t) { t.join(); }); };
    EXPECT_LT(cancelDuring(doomed, 0ms, joinAll), interval);
    EXPECT_EQ(refused.load(), 3);
    survivor.join();
    EXPECT_LT(survivorStart - cancelAt, 2 * interval); // the next slot: the cancelled waiters left no holes

    MusicBrainzPacer late(200ms); // a caller part-way through the interval waits for the rest of it
    ASSERT_TRUE(late.acquire(plain));
    const Clock::time_point first = Clock::now();
    std::this_thread::sleep_for(130ms);
    ASSERT_TRUE(late.acquire(plain));
    EXPECT_GE(Clock::now() - first, 200ms);
}

TEST(MusicBrainzPacerConcurrencyTest, RequestsOfConcurrentLookupsAreSpacedIncluding503Resends) {
    LoopbackServer server;
    std::atomic<int> served{0};
    server.handle("GET", "/ws/2/recording", [&](const LoopbackServer::Request&) {
        return served++ % 2 == 0 ? Response(503) : Response(200, mbAnswer(1984, {})); // re-sends mix with first requests
    });
    MusicBrainzPacer pacer(200ms);
    const MusicBrainzService service(server.endpoints(), quickTiming(), pacer);
    std::atomic<int> found{0};
    const Clock::time_point begin = Clock::now();
    runConcurrently(4, 4, [&](int) { found += service.lookup("T", QString()).year == 1984 ? 1 : 0; });
    const auto arrivals = sortedArrivals(server.requests());
    EXPECT_GE(arrivals.size(), 5u);
    for (std::size_t i = 0; i < arrivals.size(); ++i) { // against the start: arrivals trail their sends unevenly
        EXPECT_GE(arrivals[i] - begin, static_cast<long>(i) * 200ms) << "request " << i;
    }
    EXPECT_GE(found.load(), 2);

    // Cancelling during the rate-limit wait or the 503 retry wait ends the lookup at once.
    server.script("GET", "/ws/2/recording", {{503}});
    MusicBrainzPacer quick(1ms);
    for (const bool rateWait : {true, false}) {
        MusicBrainzTiming timing = quickTiming();
        (rateWait ? timing.rateLimitDelay : timing.retryDelay) = 30s;
        const MusicBrainzService waiting(server.endpoints(), timing, quick);
        CancelToken token;
        EXPECT_LT(cancelDuring(token, 100ms, [&] { expectThrows(AppError::Kind::cancelled, [&] { waiting.lookup("T", "A", token); }); }), 1s)
            << rateWait;
    }
}
