#include "services/MusicBrainzPacer.h"

#include "LookupScenario.h"
#include "QtPrinters.h"
#include "Threads.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace LookupScenario;
using namespace Threads;
using namespace std::chrono_literals;

// Starts come first come, first served, each an interval after the one before.
TEST(MusicBrainzPacerConcurrencyTest, StartsAreSpacedInTurn) {
    constexpr auto interval = 150ms;
    MusicBrainzPacer pacer(interval);
    const CancelToken plain;
    std::mutex mutex;
    std::vector<int> order;
    const Clock::time_point begin = Clock::now();
    JoinedThreads threads; // each starts within four intervals: nothing to wake
    for (int i = 0; i < 4; ++i) {
        threads.start([&, i] {
            ASSERT_TRUE(pacer.acquire(plain));
            EXPECT_GE(Clock::now() - begin, i * interval) << "start " << i;
            std::lock_guard lock(mutex);
            order.push_back(i);
        });
        // The next caller comes once this one stands in line or has started.
        ASSERT_TRUE(eventually([&] {
            std::lock_guard lock(mutex);
            return pacer.waiting() + order.size() >= std::size_t(i + 1);
        }));
    }
    threads.joinAll();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));

    MusicBrainzPacer late(200ms); // a caller part-way through the interval waits for the rest of it
    ASSERT_TRUE(late.acquire(plain));
    const Clock::time_point first = Clock::now();
    std::this_thread::sleep_for(130ms);
    ASSERT_TRUE(late.acquire(plain));
    EXPECT_GE(Clock::now() - first, 200ms);
}

// A cancel wakes every waiter at once, and the cancelled leave no place behind in the line.
TEST(MusicBrainzPacerConcurrencyTest, CancelFreesTheWaitersAndTheirPlaces) {
    // The next start is a minute away: only a waiter the cancel does not wake waits for it.
    MusicBrainzPacer pacer(hang);
    const CancelToken plain, doomed, survivor;
    ASSERT_TRUE(pacer.acquire(plain));
    std::atomic<int> refused{0};
    JoinedThreads waiters([&] { doomed.cancel(), survivor.cancel(); });
    for (const CancelToken& token : {doomed, doomed, survivor, doomed}) {
        waiters.start([&, token] { refused += pacer.acquire(token) ? 0 : 1; });
        ASSERT_TRUE(eventually([&] { return pacer.waiting() == waiters.size(); }));
    }
    const auto joinDoomed = [&] {
        waiters.join(0), waiters.join(1), waiters.join(3);
    };
    EXPECT_LT(cancelDuring(doomed, 0ms, joinDoomed), hang / 2);
    EXPECT_EQ(refused.load(), 3);
    EXPECT_EQ(pacer.waiting(), 1u); // the survivor alone, first in line now
    survivor.cancel();
    waiters.join(2);
    EXPECT_EQ(pacer.waiting(), 0u);
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
        (rateWait ? timing.rateLimitDelay : timing.retryDelay) = hang;
        const MusicBrainzService waiting(server.endpoints(), timing, quick);
        CancelToken token;
        // Far below the wait: only a lookup that sleeps through the cancel reaches it.
        EXPECT_LT(cancelDuring(token, 100ms, [&] { expectThrows(AppError::Kind::cancelled, [&] { waiting.lookup("T", "A", token); }); }), 30s)
            << rateWait;
    }
}
