#include "services/YearLookupService.h"

#include "LookupScenario.h"
#include "QtPrinters.h"
#include "Threads.h"

#include <gtest/gtest.h>

using namespace LookupScenario;
using namespace Threads;
using namespace std::chrono_literals;

TEST(YearLookupServiceConcurrencyTest, CancelDuringTheMusicBrainzWaitEndsTheLookupSilently) {
    LoopbackServer server;
    MusicBrainzPacer pacer(1ms);
    MusicBrainzTiming slow = quickTiming();
    slow.rateLimitDelay = hang;
    YearLookupService service(server.endpoints(), slow, pacer);
    Settings settings;
    settings.useSpotify();
    settings.change([](SettingsSnapshot& s) { s.enableGenreLookup = true, s.apiKeys[AIProviderType::claude] = "sk-test"; }); // Claude
    server.script("POST", "/api/token", {{200, spotifyToken()}});
    server.script("GET", "/v1/search", {{200, spotifySearch(1985)}});
    server.script("POST", "/v1/messages", {{200, claudeText("1990")}});
    CancelToken token;
    YearLookupResult result{1, QStringLiteral("unset"), QStringLiteral("unset")};
    // Far below the wait: only a lookup that sleeps through the cancel reaches it.
    EXPECT_LT(cancelDuring(token, 200ms, [&] { result = service.lookup(file("Song - Radio Edit"), settings.source(), token); }), hang / 2);
    EXPECT_EQ(result, (YearLookupResult{std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_TRUE(server.requests().empty()); // nothing more is asked
}

TEST(YearLookupServiceConcurrencyTest, LookupsInFlightTogetherNeverSendMusicBrainzRequestsWithin1100ms) {
    LoopbackServer server;
    server.handle("GET", "/ws/2/recording", [](const LoopbackServer::Request& r) {
        for (int i = 0; i < 4; ++i) {
            if (mbAsksFor(r, QStringLiteral("T%1").arg(i).toStdString())) {
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
