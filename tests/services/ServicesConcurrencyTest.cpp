#include "FakeTagWriter.h"
#include "LookupScenario.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"

#include "services/AIServiceFactory.h"
#include "services/HttpClient.h"
#include "services/TagUpdateService.h"
#include "services/WriteUndoManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace LookupScenario;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Response = LoopbackServer::Response;

namespace {

// Runs `work(i)` for i in [0, count) on `threads` threads at once.
void runConcurrently(int count, int threads, const std::function<void(int)>& work) {
    std::atomic<int> next{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            for (int i = next++; i < count; i = next++) {
                work(i);
            }
        });
    }
    for (std::thread& thread : pool) {
        thread.join();
    }
}

// Runs `call` while another thread cancels `token` after `after`; returns the
// time from the cancel to the end of the call.
Clock::duration cancelDuring(CancelToken token, std::chrono::milliseconds after, const std::function<void()>& call) {
    std::atomic<Clock::rep> cancelledAt{0};
    std::thread canceller([&] {
        std::this_thread::sleep_for(after);
        cancelledAt = Clock::now().time_since_epoch().count();
        token.cancel();
    });
    call();
    const Clock::time_point end = Clock::now();
    canceller.join();
    return end - Clock::time_point(Clock::duration(cancelledAt.load()));
}

std::vector<Clock::time_point> sortedArrivals(const std::vector<LoopbackServer::Request>& requests) {
    std::vector<Clock::time_point> out;
    for (const auto& r : requests) {
        out.push_back(r.arrived);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

// A cancel ends a request or an AI lookup in flight at once.
TEST(CancelTokenConcurrencyTest, CancelEndsRequestsInFlight) {
    LoopbackServer server;
    Response slow(200, chatText("1987"));
    slow.delay = 20s;
    Response trickle(200, std::string(1000, 'x'));
    trickle.trickleInterval = 20ms;
    server.script("GET", "/slow", {slow});
    server.script("GET", "/trickle", {trickle});
    server.script("POST", "/v1/chat/completions", {slow});
    for (const char* path : {"/slow", "/trickle"}) {
        CancelToken request;
        HttpRequest r;
        r.url = QUrl(server.url(path));
        r.timeout = 30s;
        const auto waited = cancelDuring(request, 150ms, [&] {
            try {
                HttpClient().send(r, request);
                ADD_FAILURE() << "request finished";
            } catch (const HttpError& e) {
                EXPECT_EQ(e.kind(), HttpError::Kind::cancelled) << path;
            }
        });
        EXPECT_LT(waited, 750ms) << path; // not the next one-second poll, nor the deadline
    }
    auto s = std::make_shared<SettingsSnapshot>();
    s->selectedProvider = AIProviderType::lmstudio;
    s->customEndpoint = server.baseUrl();
    const auto ai = makeAIService(fixedSettingsSource(s));
    CancelToken lookup;
    EXPECT_LT(cancelDuring(lookup, 100ms, [&] { expectThrows(AppError::Kind::cancelled, [&] { ai->lookupYear("T", "A", {}, {}, lookup); }); }), 2s);
}

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

TEST(YearLookupServiceConcurrencyTest, CancelDuringTheMusicBrainzWaitEndsTheLookupSilently) {
    LoopbackServer server;
    MusicBrainzPacer pacer(1ms);
    MusicBrainzTiming slow = quickTiming();
    slow.rateLimitDelay = 30s;
    YearLookupService service(server.endpoints(), slow, pacer);
    Settings settings;
    settings.useSpotify();
    settings.change([](SettingsSnapshot& s) { s.enableGenreLookup = true, s.apiKeys[AIProviderType::claude] = "sk-test"; }); // Claude
    server.script("POST", "/api/token", {{200, spotifyToken()}});
    server.script("GET", "/v1/search", {{200, spotifySearch(1985)}});
    server.script("POST", "/v1/messages", {{200, claudeText("1990")}});
    CancelToken token;
    YearLookupResult result{1, QStringLiteral("unset"), QStringLiteral("unset")};
    EXPECT_LT(cancelDuring(token, 200ms, [&] { result = service.lookup(file("Song - Radio Edit"), settings.source(), token); }), 500ms);
    EXPECT_EQ(result, (YearLookupResult{std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_TRUE(server.requests().empty()); // nothing more is asked
}

TEST(YearLookupServiceConcurrencyTest, LookupsInFlightTogetherNeverSendMusicBrainzRequestsWithin1100ms) {
    LoopbackServer server;
    server.handle("GET", "/ws/2/recording", [](const LoopbackServer::Request& r) {
        for (int i = 0; i < 4; ++i) {
            if (mbAsksFor(r, "T" + std::to_string(i))) {
                return Response(200, mbAnswer(1980 + i, std::nullopt)); // "T3" answers 1983
            }
        }
        return Response(200, mbEmpty);
    });
    YearLookupService service(server.endpoints(), quickTiming()); // the process-wide pacer
    Settings settings;
    std::vector<YearLookupResult> results(4);
    const Clock::time_point begin = Clock::now();
    runConcurrently(4, 4, [&](int i) { results[i] = service.lookup(file(QStringLiteral("T%1").arg(i)), settings.source()); });
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(results[i], (YearLookupResult{1980 + i, std::nullopt, QStringLiteral("musicbrainz")})) << i;
    }
    const auto arrivals = sortedArrivals(server.requests("/ws/2/recording"));
    ASSERT_EQ(arrivals.size(), 4u);
    // Only the n-th arrival against the start: an arrival trails its send by a varying moment.
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        EXPECT_GE(arrivals[i] - begin, static_cast<long>(i) * 1100ms) << "request " << i;
    }
}

TEST(WriteUndoManagerConcurrencyTest, SessionsOfOverlappingRunsNeverMix) {
    auto writer = std::make_shared<FakeTagWriter>();
    WriteUndoManager undo;
    TagUpdateService service(writer, &undo);
    const auto snapshot = std::make_shared<const SettingsSnapshot>(SettingsSnapshot::defaults());
    const auto settings = [snapshot] { return snapshot; };
    const auto file = [](const char* run, int i) {
        MusicFile f = musicFile("Title", "Artist", 1987, "House", QStringLiteral("/%1/%2.mp3").arg(QLatin1String(run)).arg(i));
        f.discoveredYear = 1995;
        return f;
    };
    // The first run's files still land while a second run opens its session and writes:
    // only the second run's entries stay, and only its undo restores them.
    const WriteUndoManager::SessionId first = undo.openSession();
    std::atomic<WriteUndoManager::SessionId> second{0};
    runConcurrently(80, 8, [&](int i) {
        if (i == 20) {
            second = undo.openSession();
        }
        const bool late = i % 2 == 0 || second == 0;
        service.updateFile(file(late ? "first" : "second", i), late ? first : second.load(), settings);
    });
    const auto entries = undo.entries();
    EXPECT_GT(entries.size(), 0);
    for (const auto& entry : entries) {
        EXPECT_TRUE(entry.url.startsWith("/second/")) << entry.url.toStdString();
    }
    EXPECT_EQ(undo.undoLastSession(*writer, first).restored, 0);
    EXPECT_EQ(undo.undoLastSession(*writer, second).restored, entries.size());
}
