#include "ClosedPort.h"
#include "LookupScenario.h"
#include "LoopbackServer.h"
#include "TestHelpers.h"

#include "model/AppError.h"
#include "services/MusicBrainzService.h"

#include <QDate>

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;

using namespace LookupScenario;

namespace {

const char* kPath = "/ws/2/recording";

MusicBrainzTiming fastTiming() {
    MusicBrainzTiming t;
    t.rateLimitDelay = 5ms;
    t.retryDelay = 30ms;
    t.requestTimeout = 3s;
    return t;
}

// A service on the server with its own pacer, so tests do not share the process-wide one.
struct Fixture {
    LoopbackServer server;
    MusicBrainzPacer pacer{1ms};
    MusicBrainzService service{server.endpoints(), fastTiming(), pacer};
};

} // namespace

TEST(MusicBrainzServiceTest, RequestShapeAndPhraseEscaping) {
    Fixture f;
    f.server.script("GET", kPath, {{200, mbRecordings(R"({"tags":[{"name":"rock","count":1}]})")}});
    const MusicBrainzResult result =
        f.service.lookup(QStringLiteral("Say \"Hi\" C:\\D+E"), QStringLiteral("A&B"));
    EXPECT_EQ(result.genre, QStringLiteral("rock"));

    const auto requests = f.server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_EQ(r.path, kPath);
    ASSERT_EQ(r.params.size(), 3u);
    EXPECT_EQ(r.params[0].first, "query");
    EXPECT_EQ(r.params[0].second, R"(recording:"Say \"Hi\" C:\\D+E" AND artist:"A&B")");
    EXPECT_EQ(r.params[1], (std::pair<std::string, std::string>{"fmt", "json"}));
    EXPECT_EQ(r.params[2], (std::pair<std::string, std::string>{"limit", "5"}));
    EXPECT_NE(r.target.find("D%2BE"), std::string::npos) << r.target;
    EXPECT_EQ(r.header("User-Agent"), "Velmora/1.0 (" VELMORA_WEB_DOMAIN ")");
    EXPECT_EQ(r.header("Accept"), "application/json");
}

TEST(MusicBrainzServiceTest, TitleOnlyRepeatHappensOnlyWhenTheArtistQueryFoundNothing) {
    struct Case {
        const char* name;
        LoopbackServer::Response first;
        std::size_t expectedRequests;
    };
    const std::vector<Case> cases = {
        {"http error", {500, "{}"}, 2},
        {"not found", {404, "{}"}, 2},
        {"empty list", {200, mbRecordings("")}, 2},
        {"unparsable", {200, "<html>"}, 2},
        {"no plausible data", {200, mbRecordings(R"({"releases":[{"date":"1899"}]})")}, 2},
        {"genre only", {200, mbRecordings(R"({"tags":[{"name":"pop","count":2}]})")}, 1},
        {"year only", {200, mbRecordings(R"({"releases":[{"date":"1990-01-01"}]})")}, 1},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.server.script("GET", kPath, {c.first, {200, mbRecordings(R"({"releases":[{"date":"1977"}]})")}});
        const MusicBrainzResult result = f.service.lookup(QStringLiteral("Title"), QStringLiteral("Artist"));
        const auto requests = f.server.requests();
        ASSERT_EQ(requests.size(), c.expectedRequests) << c.name;
        EXPECT_NE(requests[0].query("query").find("AND artist:\"Artist\""), std::string::npos) << c.name;
        if (c.expectedRequests == 2) {
            EXPECT_EQ(requests[1].query("query"), "recording:\"Title\"") << c.name;
            EXPECT_EQ(result.year, 1977) << c.name;
        }
    }
}

TEST(MusicBrainzServiceTest, RetriesA503OnceAfterTheRetryDelay) {
    {
        Fixture f;
        f.server.script("GET", kPath,
                        {{503}, {200, mbRecordings(R"({"releases":[{"date":"1987-05-12"}]})")}});
        EXPECT_EQ(f.service.lookup(QStringLiteral("T"), QString()).year, 1987);
        const auto requests = f.server.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_GE(requests[1].arrived - requests[0].arrived, 30ms);
        EXPECT_EQ(requests[1].target, requests[0].target);
    }
    {
        Fixture f;
        f.server.script("GET", kPath, {{503}});
        EXPECT_EQ(f.service.lookup(QStringLiteral("T"), QString()), MusicBrainzResult{});
        EXPECT_EQ(f.server.requests().size(), 2u);
    }
}

// A refused connection or a time-out is a network error, never "no result",
// and is not repeated without the artist.
TEST(MusicBrainzServiceTest, FailuresOfTheExchange) {
    Endpoints closed;
    closed.musicBrainzRecording = closedLoopbackUrl() + QStringLiteral("/ws/2/recording");
    MusicBrainzPacer pacer(1ms);
    expectThrows(AppError::Kind::networkError, [&] {
        MusicBrainzService(closed, fastTiming(), pacer).lookup(QStringLiteral("T"), QStringLiteral("A"));
    });

    Fixture f;
    LoopbackServer::Response slow(200, mbRecordings(""));
    slow.delay = 3s;
    f.server.script("GET", kPath, {slow});
    MusicBrainzTiming t = fastTiming();
    t.requestTimeout = 150ms;
    expectThrows(AppError::Kind::networkError, [&] {
        MusicBrainzService(f.server.endpoints(), t, f.pacer).lookup(QStringLiteral("T"), QString());
    });
    EXPECT_EQ(f.server.requests().size(), 1u);
}

TEST(MusicBrainzServiceTest, ParseRecordings) {
    const int nextYear = QDate::currentDate().year() + 1;
    struct Case {
        const char* name;
        std::string body;
        MusicBrainzResult expected;
    };
    const std::vector<Case> cases = {
        {"full date", mbRecordings(R"({"releases":[{"date":"1987-05-12"}]})"), {1987, {}}},
        {"bare year", mbRecordings(R"({"releases":[{"date":"1987"}]})"), {1987, {}}},
        {"zero month", mbRecordings(R"({"releases":[{"date":"2001-00-00"}]})"), {2001, {}}},
        {"implausible", mbRecordings(R"({"releases":[{"date":"1919"},{"date":"1899"}]})"), {}},
        {"next year stays",
         mbRecordings(R"({"releases":[{"date":")" + std::to_string(nextYear) + R"("}]})"),
         {nextYear, {}}},
        {"two years ahead dropped",
         mbRecordings(R"({"releases":[{"date":")" + std::to_string(nextYear + 1) + R"("}]})"),
         {}},
        {"release group counts, earliest over all recordings",
         mbRecordings(R"({"releases":[{"date":"1990","release-group":{"first-release-date":"1985-02"}}]},)"
                      R"({"first-release-date":"1970","releases":[{"date":"1988"}]})"),
         {1985, {}}},
        {"tags summed across recordings, case-sensitive",
         mbRecordings(R"({"tags":[{"name":"Rock","count":3},{"name":"pop","count":2}]},)"
                      R"({"tags":[{"name":"rock","count":2},{"name":"pop","count":2}]})"),
         {{}, QStringLiteral("pop")}},
        {"tie goes to the first seen",
         mbRecordings(R"({"tags":[{"name":"a","count":2},{"name":"b","count":2}]})"),
         {{}, QStringLiteral("a")}},
        {"zero and negative counts still count",
         mbRecordings(R"({"tags":[{"name":"x","count":-3}]})"),
         {{}, QStringLiteral("x")}},
        {"counts that are not whole numbers are skipped",
         mbRecordings(
             R"({"tags":[{"name":"a","count":3.5},{"name":"b","count":"9"},{"name":"c","count":true},)"
             R"({"name":"d","count":1},{"count":50},{"name":7,"count":50}]})"),
         {{}, QStringLiteral("d")}},
        {"sums saturate instead of wrapping",
         mbRecordings(R"({"tags":[{"name":"a","count":9.2e18},{"name":"b","count":9.2e18}]},)"
                      R"({"tags":[{"name":"a","count":9.2e18}]})"),
         {{}, QStringLiteral("a")}},
        {"empty objects are skipped", mbRecordings(R"({},{"releases":[{},{"date":"1999"}]})"), {1999, {}}},
        {"recordings holding a non-object", mbRecordings(R"({"releases":[{"date":"1999"}]},3)"), {}},
        {"tags holding a non-object skip the tags only",
         mbRecordings(R"({"tags":[{"name":"a","count":1},"b"],"releases":[{"date":"1999"}]})"),
         {1999, {}}},
        {"no recordings member", R"({"count":0})", {}},
        {"top level not an object", "[]", {}},
        {"not JSON", "\xff\xfe garbage", {}},
    };
    for (const Case& c : cases) {
        const MusicBrainzResult got = MusicBrainzService::parseRecordings(QByteArray::fromStdString(c.body));
        EXPECT_EQ(got.year, c.expected.year) << c.name;
        EXPECT_EQ(got.genre, c.expected.genre) << c.name;
    }
}
