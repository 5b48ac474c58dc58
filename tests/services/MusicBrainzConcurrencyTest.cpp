#include "LoopbackServer.h"

#include "model/AppError.h"
#include "services/MusicBrainzPacer.h"
#include "services/MusicBrainzService.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

MusicBrainzTiming fastTiming() {
    MusicBrainzTiming t;
    t.rateLimitDelay = 1ms;
    t.retryDelay = 1ms;
    return t;
}

} // namespace

TEST(MusicBrainzConcurrencyTest, PacerSpacesStartsFirstComeFirstServed) {
    constexpr auto interval = 150ms;
    MusicBrainzPacer pacer(interval);
    std::mutex mutex;
    std::vector<std::pair<int, Clock::time_point>> starts;
    std::vector<std::thread> threads;
    const CancelToken token;
    const Clock::time_point begin = Clock::now();
    for (int i = 0; i < 5; ++i) {
        threads.emplace_back([&, i] {
            ASSERT_TRUE(pacer.acquire(token));
            std::lock_guard lock(mutex);
            starts.emplace_back(i, Clock::now());
        });
        std::this_thread::sleep_for(40ms); // arrive in order 0..4, each long before its turn
    }
    for (auto& t : threads) {
        t.join();
    }
    ASSERT_EQ(starts.size(), 5u);
    for (std::size_t i = 0; i < starts.size(); ++i) {
        EXPECT_EQ(starts[i].first, static_cast<int>(i));
        // A start is recorded a moment after acquire() returns, so the gap
        // between two records may be shorter than the interval; the n-th start
        // can never come earlier than n intervals after the first caller came.
        EXPECT_GE(starts[i].second - begin, static_cast<long>(i) * interval) << "start " << i;
    }
}

// A caller that comes part-way through the interval waits for the rest of it.
TEST(MusicBrainzConcurrencyTest, ALateCallerWaitsOutTheWholeInterval) {
    MusicBrainzPacer pacer(200ms);
    const CancelToken token;
    ASSERT_TRUE(pacer.acquire(token));
    const Clock::time_point first = Clock::now();
    std::this_thread::sleep_for(130ms);
    std::thread other([&] { ASSERT_TRUE(pacer.acquire(token)); });
    other.join();
    EXPECT_GE(Clock::now() - first, 200ms);
}

TEST(MusicBrainzConcurrencyTest, CancelWakesEveryWaiterAndFreesItsPlace) {
    MusicBrainzPacer pacer(300ms);
    const CancelToken plain;
    ASSERT_TRUE(pacer.acquire(plain)); // the slot is taken now

    CancelToken doomed;
    std::atomic<int> refused{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (!pacer.acquire(doomed)) {
                ++refused;
            }
        });
    }
    std::this_thread::sleep_for(30ms);
    Clock::time_point survivorStart;
    std::thread survivor([&] {
        EXPECT_TRUE(pacer.acquire(plain));
        survivorStart = Clock::now();
    });
    std::this_thread::sleep_for(30ms);
    const auto cancelAt = Clock::now();
    doomed.cancel();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_LT(Clock::now() - cancelAt, 150ms); // woken at once, not at the next slot
    EXPECT_EQ(refused.load(), 3);
    survivor.join();
    // The survivor gets the next slot; the cancelled waiters left no holes.
    EXPECT_LT(survivorStart - cancelAt, 600ms);
}

TEST(MusicBrainzConcurrencyTest, RequestsOfConcurrentLookupsAreSpacedIncluding503Resends) {
    LoopbackServer server;
    std::atomic<int> served{0};
    server.handle("GET", "/ws/2/recording", [&](const LoopbackServer::Request&) {
        // Every other answer is a 503, so re-sends mix with first requests.
        if (served++ % 2 == 0) {
            return LoopbackServer::Response(503);
        }
        return LoopbackServer::Response(200, R"({"recordings":[{"releases":[{"date":"1984"}]}]})");
    });
    MusicBrainzPacer pacer(200ms);
    const MusicBrainzService service(server.endpoints(), fastTiming(), pacer);

    std::atomic<int> found{0};
    std::vector<std::thread> lookups;
    for (int i = 0; i < 4; ++i) {
        lookups.emplace_back([&] {
            if (service.lookup(QStringLiteral("T"), QString()).year == 1984) {
                ++found;
            }
        });
    }
    for (auto& t : lookups) {
        t.join();
    }
    const auto requests = server.requests();
    EXPECT_GE(requests.size(), 5u);
    std::vector<Clock::time_point> arrivals;
    for (const auto& r : requests) {
        arrivals.push_back(r.arrived);
    }
    std::sort(arrivals.begin(), arrivals.end());
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
        // Starts are 200 ms apart. The server sees arrivals, and the time from
        // start to arrival differs between requests (much more so under the
        // sanitizers), so the check keeps a wide margin.
        EXPECT_GE(arrivals[i] - arrivals[i - 1], 140ms) << "requests " << i - 1 << " and " << i;
    }
    EXPECT_GE(found.load(), 2);
}

TEST(MusicBrainzConcurrencyTest, CancelDuringTheWaitsEndsTheLookupAtOnce) {
    LoopbackServer server;
    server.script("GET", "/ws/2/recording", {{503}});
    MusicBrainzPacer pacer(1ms);

    struct Case {
        const char* name;
        MusicBrainzTiming timing;
        AppError::Kind expected;
    };
    MusicBrainzTiming longRateWait = fastTiming();
    longRateWait.rateLimitDelay = 30s;
    MusicBrainzTiming longRetryWait = fastTiming();
    longRetryWait.retryDelay = 30s;
    const std::vector<Case> cases = {
        {"rate-limit wait", longRateWait, AppError::Kind::cancelled},
        {"503 retry wait", longRetryWait, AppError::Kind::cancelled},
    };
    for (const Case& c : cases) {
        const MusicBrainzService service(server.endpoints(), c.timing, pacer);
        CancelToken token;
        std::thread canceller([token] {
            std::this_thread::sleep_for(100ms);
            token.cancel();
        });
        const auto start = Clock::now();
        try {
            service.lookup(QStringLiteral("T"), QStringLiteral("A"), token);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const AppError& e) {
            EXPECT_EQ(e.kind(), c.expected) << c.name;
        }
        canceller.join();
        EXPECT_LT(Clock::now() - start, 2s) << c.name;
    }
}
