#include "LogCapture.h"
#include "LookupScenario.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"

#include "services/YearLookupService.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace LookupScenario;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Request = LoopbackServer::Request;
using Response = LoopbackServer::Response;

namespace {

// Holds every arriving request until `expected` requests are in (or a time
// limit passes), so answers come only once all of them were sent.
class Gate {
public:
    explicit Gate(int expected) : m_expected(expected) {}

    // True when all expected requests arrived in time.
    bool arriveAndWait() {
        std::unique_lock lock(m_mutex);
        ++m_arrived;
        m_changed.notify_all();
        return m_changed.wait_for(lock, 3s, [this] { return m_arrived >= m_expected; });
    }

private:
    const int m_expected;
    int m_arrived = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

} // namespace

TEST(YearLookupServiceConcurrencyTest, CancelDuringTheMusicBrainzWaitEndsTheLookupAtOnce) {
    LoopbackServer server;
    MusicBrainzPacer pacer(1ms);
    MusicBrainzTiming slow = quickTiming();
    slow.rateLimitDelay = 30s;
    YearLookupService service(server.endpoints(), slow, pacer);
    Settings settings;
    settings.useClaude();
    settings.useSpotify();
    settings.change([](SettingsSnapshot& s) { s.enableGenreLookup = true; });
    server.script("POST", "/api/token", {{200, spotifyToken()}});
    server.script("GET", "/v1/search", {{200, spotifySearch(1985)}});
    server.script("POST", "/v1/messages", {{200, claudeText("1990")}});
    LogCapture log;

    CancelToken token;
    YearLookupResult result{1, QStringLiteral("unset"), QStringLiteral("unset")};
    Clock::time_point finished;
    std::thread worker([&] {
        result = service.lookup(file(QStringLiteral("Song - Radio Edit")), settings.source(), token);
        finished = Clock::now();
    });
    std::this_thread::sleep_for(200ms);
    const auto cancelledAt = Clock::now();
    token.cancel();
    worker.join();

    EXPECT_LT(finished - cancelledAt, 500ms);
    EXPECT_EQ(result, (YearLookupResult{std::nullopt, std::nullopt, std::nullopt}));
    // Nothing more is asked and nothing more is logged.
    EXPECT_TRUE(server.requests().empty());
    for (const QString& entry : log.entries()) {
        EXPECT_FALSE(entry.startsWith(QStringLiteral("API")))
            << entry.toStdString(); // nothing more is logged
    }
}

TEST(YearLookupServiceConcurrencyTest, LookupsInFlightTogetherNeverSendMusicBrainzRequestsWithin1100ms) {
    LoopbackServer server;
    server.handle("GET", "/ws/2/recording", [](const Request& r) {
        // "T3" answers 1983, and so on.
        for (int i = 0; i < 4; ++i) {
            if (mbAsksFor(r, "T" + std::to_string(i))) {
                return Response(200, mbAnswer(1980 + i, std::nullopt));
            }
        }
        return Response(200, mbEmpty);
    });
    // The process-wide pacer with its real interval, as every service uses by default.
    YearLookupService service(server.endpoints(), quickTiming());
    Settings settings;

    std::vector<YearLookupResult> results(4);
    std::vector<std::thread> lookups;
    const Clock::time_point begin = Clock::now();
    for (int i = 0; i < 4; ++i) {
        lookups.emplace_back(
            [&, i] { results[i] = service.lookup(file(QStringLiteral("T%1").arg(i)), settings.source()); });
    }
    for (auto& t : lookups) {
        t.join();
    }

    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(results[i], (YearLookupResult{1980 + i, std::nullopt, QStringLiteral("musicbrainz")})) << i;
    }
    const auto requests = server.requests("/ws/2/recording");
    ASSERT_EQ(requests.size(), 4u);
    std::vector<Clock::time_point> arrivals;
    for (const auto& r : requests) {
        arrivals.push_back(r.arrived);
    }
    std::sort(arrivals.begin(), arrivals.end());
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        // The n-th send starts no earlier than n intervals after the first,
        // and an arrival never comes before its send.
        EXPECT_GE(arrivals[i] - begin, static_cast<long>(i) * 1100ms) << "request " << i;
        if (i > 0) {
            // An arrival trails its send by a varying moment (the very first
            // connection of the process is the slowest, under a sanitizer by
            // some tens of milliseconds), so the gap seen here is a little
            // less certain than the spacing of the sends.
            EXPECT_GE(arrivals[i] - arrivals[i - 1], 1100ms - 100ms) << "requests " << i - 1 << " and " << i;
        }
    }
}
