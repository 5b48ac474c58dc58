#include "services/MusicBrainzService.h"

#include "LookupScenario.h"
#include "QtPrinters.h"
#include "model/AppError.h"
#include "model/AppSettings.h"

#include <QDate>

#include <gtest/gtest.h>

#include <chrono>

using namespace LookupScenario;
using namespace std::chrono_literals;

namespace {

const std::string mbPath = "/ws/2/recording";

std::string releases(const std::string& dates) {
    return mbRecordings(R"({"releases":[)" + dates + "]}");
}

struct MusicBrainz {
    explicit MusicBrainz(MusicBrainzTiming t = quickTiming()) : service(server.endpoints(), t, pacer) {}
    LoopbackServer server;
    MusicBrainzPacer pacer{1ms};
    MusicBrainzService service;
};

} // namespace

// What the server asks to be sent again (a 429, a 5xx) is sent once more after
// the pause; the rest, a time-out too, ends the query at once. Every failure is
// told with its reason.
TEST(MusicBrainzServiceTest, RetriesOnlyWhatWaitingMayMendAndTellsWhy) {
    using Reason = SourceFailure::Reason;
    const std::string found = releases(R"({"date":"1987-05-12"})");
    Response slow(200, mbEmpty);
    slow.delay = 3s;
    const struct {
        const char* name;
        std::vector<Response> answers;
        size_t requests;
        std::optional<int> year;
        QList<SourceFailure> failures;
    } cases[] = {
        {"503, then found", {{503}, {200, found}}, 2, 1987, {}},
        {"429, then found", {{429}, {200, found}}, 2, 1987, {}},
        {"a time-out is not repeated", {slow, {200, found}}, 1, {}, {{"MusicBrainz", Reason::timedOut, {}}}},
        {"500 twice", {{500}}, 2, {}, {{"MusicBrainz", Reason::httpStatus, "500"}}},
        {"404 is not repeated", {{404}}, 1, {}, {{"MusicBrainz", Reason::httpStatus, "404"}}},
        {"an HTML page", {{200, "<html><body>Maintenance</body></html>"}}, 1, {},
         {{"MusicBrainz", Reason::unreadableAnswer, {}}}},
        {"an empty search is no failure", {{200, mbEmpty}}, 1, {}, {}},
    };
    for (const auto& c : cases) {
        MusicBrainzTiming t = quickTiming();
        t.retryDelay = 30ms;
        t.requestTimeout = 150ms;
        MusicBrainz mb(t);
        mb.server.script("GET", mbPath, c.answers);
        SourceFailures failures;
        std::optional<int> year;
        try {
            year = mb.service.lookup("T", QString(), CancelToken(), &failures).year;
        } catch (const AppError& e) {
            EXPECT_EQ(e.kind(), AppError::Kind::networkError) << c.name;
        }
        EXPECT_EQ(year, c.year) << c.name;
        EXPECT_EQ(failures.list(), c.failures) << c.name;
        const auto requests = mb.server.requests();
        ASSERT_EQ(requests.size(), c.requests) << c.name;
        if (c.requests == 2) {
            EXPECT_GE(requests[1].arrived - requests[0].arrived, 30ms) << c.name;
            EXPECT_EQ(requests[1].target, requests[0].target) << c.name;
        }
    }
    // Nor is the title-only query sent after a query with the artist timed out.
    MusicBrainzTiming t = quickTiming();
    t.requestTimeout = 150ms;
    MusicBrainz mb(t);
    mb.server.script("GET", mbPath, {slow});
    expectThrows(AppError::Kind::networkError, [&] { mb.service.lookup("T", "A"); });
    EXPECT_EQ(mb.server.requests().size(), 1u);
}

// Offline, a query must fail at once: no pause and no second request after a refused connection.
TEST(MusicBrainzServiceTest, ARefusedConnectionIsNotRetried) {
    AppSettings::shared().setAppLanguage(AppLanguage::english);
    Endpoints closed;
    closed.musicBrainzRecording = closedLoopbackUrl() + "/ws/2/recording";
    MusicBrainzTiming t = quickTiming();
    t.retryDelay = 60s; // only a retry waits this long
    MusicBrainzPacer pacer{1ms};
    SourceFailures failures;
    const auto start = std::chrono::steady_clock::now();
    expectThrows(AppError::Kind::networkError, [&] { MusicBrainzService(closed, t, pacer).lookup("T", "A", CancelToken(), &failures); });
    EXPECT_LT(std::chrono::steady_clock::now() - start, t.retryDelay);
    ASSERT_EQ(failures.list().size(), 1);
    EXPECT_EQ(failures.list()[0].reason, SourceFailure::Reason::unreachable);
    EXPECT_TRUE(failures.list()[0].text().startsWith("MusicBrainz: could not connect: ")) << failures.list()[0].text().toStdString();
}

TEST(MusicBrainzServiceTest, ParseRecordings) {
    const std::string next = std::to_string(QDate::currentDate().year() + 1);
    const std::string afterNext = std::to_string(QDate::currentDate().year() + 2);
    const struct {
        const char* name;
        std::string body;
        MusicBrainzResult expected;
    } cases[] = {
        {"full date", releases(R"({"date":"1987-05-12"})"), {1987, {}}},
        {"implausible", releases(R"({"date":"1919"},{"date":"1899"})"), {}},
        {"next year stays", releases(R"({"date":")" + next + "\"}"), {std::stoi(next), {}}},
        {"two years ahead dropped", releases(R"({"date":")" + afterNext + "\"}"), {}},
        {"earliest over releases, groups and recordings",
         mbRecordings(R"({"releases":[{"date":"1990","release-group":{"first-release-date":"1985-02"}}]},)"
                      R"({"first-release-date":"1970","releases":[{"date":"1988"}]})"),
         {1985, {}}},
        {"tags summed across recordings, case-sensitive",
         mbRecordings(R"({"tags":[{"name":"Rock","count":3},{"name":"pop","count":2}]},)"
                      R"({"tags":[{"name":"rock","count":2},{"name":"pop","count":2}]})"),
         {{}, "pop"}},
        {"counts that are not whole numbers are skipped",
         mbRecordings(R"({"tags":[{"name":"a","count":3.5},{"name":"b","count":"9"},{"name":"c","count":true},)"
                      R"({"name":"d","count":1},{"count":50},{"name":7,"count":50}]})"),
         {{}, "d"}},
        {"sums saturate", mbRecordings(R"({"tags":[{"name":"a","count":9.2e18},{"name":"b","count":9.2e18}]},{"tags":[{"name":"a","count":9.2e18}]})"), {{}, "a"}},
        {"a recording not an object", mbRecordings(R"({"releases":[{"date":"1999"}]},3)"), {}},
        {"a tag not an object", mbRecordings(R"({"tags":[{"name":"a","count":1},"b"],"releases":[{"date":"1999"}]})"), {1999, {}}},
        {"not JSON", "\xff\xfe garbage", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MusicBrainzService::parseRecordings(QByteArray::fromStdString(c.body)), c.expected) << c.name;
    }
}
