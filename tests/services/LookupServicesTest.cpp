#include "ConsoleCapture.h"
#include "LookupScenario.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"

#include "model/AppError.h"
#include "services/DiscogsService.h"
#include "services/LastFMService.h"
#include "services/SpotifyService.h"

#include <QDate>

#include <gtest/gtest.h>

#include <atomic>

using namespace LookupScenario;
using namespace std::chrono_literals;
using Response = LoopbackServer::Response;

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

TEST(MusicBrainzService, TitleOnlyRepeatOnlyWhenTheArtistQueryFoundNothing) {
    const struct {
        const char* name;
        Response first;
        std::size_t requests;
    } cases[] = {
        {"http error", {500, "{}"}, 2},
        {"not found", {404, "{}"}, 2},
        {"empty list", {200, mbEmpty}, 2},
        {"unparsable", {200, "<html>"}, 2},
        {"no plausible data", {200, releases(R"({"date":"1899"})")}, 2},
        {"genre only", {200, mbAnswer(std::nullopt, "pop")}, 1},
        {"year only", {200, releases(R"({"date":"1990-01-01"})")}, 1},
    };
    for (const auto& c : cases) {
        MusicBrainz mb;
        mb.server.script("GET", mbPath, {c.first, {200, releases(R"({"date":"1977"})")}});
        const MusicBrainzResult result = mb.service.lookup("Title", "Artist");
        const auto requests = mb.server.requests();
        ASSERT_EQ(requests.size(), c.requests) << c.name;
        if (c.requests == 2) {
            EXPECT_EQ(requests[1].query("query"), "recording:\"Title\"") << c.name;
            EXPECT_EQ(result.year, 1977) << c.name;
        }
    }
}

// A 503 is re-sent once; a refused connection or a time-out is a network error, not repeated.
TEST(MusicBrainzService, RetriesAndFailuresOfTheExchange) {
    MusicBrainzTiming retry = quickTiming();
    retry.retryDelay = 30ms;
    MusicBrainz mb(retry);
    mb.server.script("GET", mbPath, {{503}, {200, releases(R"({"date":"1987-05-12"})")}, {503}});
    EXPECT_EQ(mb.service.lookup("T", QString()).year, 1987);
    EXPECT_EQ(mb.service.lookup("T", QString()), MusicBrainzResult{}); // a second 503 ends the lookup
    const auto requests = mb.server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_GE(requests[1].arrived - requests[0].arrived, 30ms);
    EXPECT_EQ(requests[1].target, requests[0].target);

    Endpoints closed;
    closed.musicBrainzRecording = closedLoopbackUrl() + "/ws/2/recording";
    expectThrows(AppError::Kind::networkError, [&] { MusicBrainzService(closed, quickTiming(), mb.pacer).lookup("T", "A"); });
    Response slow(200, mbEmpty);
    slow.delay = 3s;
    mb.server.script("GET", mbPath, {slow});
    MusicBrainzTiming t = quickTiming();
    t.requestTimeout = 150ms;
    expectThrows(AppError::Kind::networkError, [&] { MusicBrainzService(mb.server.endpoints(), t, mb.pacer).lookup("T", ""); });
    EXPECT_EQ(mb.server.requests().size(), 5u);
}

TEST(MusicBrainzService, ParseRecordings) {
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

// What goes into a header or a path must be clean; a year must be plausible.
TEST(SpotifyService, ReadsOnlyWellFormedAnswers) {
    EXPECT_EQ(SpotifyService::parseTokenResponse(spotifyToken("abc").c_str()), std::make_pair(QString("abc"), qint64(3600)));
    for (const char* token : {"abc\r\nX-Evil: 1", "a b", ""}) {
        EXPECT_FALSE(SpotifyService::parseTokenResponse(QByteArray::fromStdString(spotifyToken(token)))) << token;
    }
    EXPECT_FALSE(SpotifyService::parseTokenResponse(R"({"access_token":"abc","expires_in":3600.5})"));
    EXPECT_TRUE(SpotifyService::isValidArtistId("2jzc5TC5TVFLXQlBNiIUzE"));
    for (const char* bad : {"", "../me", "abc?x=1", "abc/def", "abc%2F", "abc def", "äbc", "abc#"}) {
        EXPECT_FALSE(SpotifyService::isValidArtistId(QString::fromUtf8(bad))) << bad;
    }
    const QString nextYear = QString::number(QDate::currentDate().year() + 1);
    EXPECT_EQ(SpotifyService::yearFromReleaseDate(nextYear + "-05"), nextYear.toInt());
    for (const QString& bad : {QString("0000"), QString("1919-12-31"), QString::number(nextYear.toInt() + 1), QString(" 1987"),
                               QString("１９８７"), QString("99999999999999")}) {
        EXPECT_FALSE(SpotifyService::yearFromReleaseDate(bad)) << bad.toStdString();
    }
}

// The token is kept until a minute before it expires and dropped when the API
// rejects it; a refused artist keeps the year. The secret and the token never
// reach the console, even from a server echoing them back.
TEST(SpotifyService, TokenLifetimeAndSecrets) {
    LoopbackServer server;
    auto ticks = std::make_shared<std::atomic<std::chrono::steady_clock::rep>>(0);
    SpotifyService spotify(server.endpoints(), [ticks] {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks->load()));
    });
    const auto advance = [&](std::chrono::seconds s) { *ticks += std::chrono::steady_clock::duration(s).count(); };
    server.script("POST", "/api/token", {{200, spotifyToken("tok1")}, {200, spotifyToken("tok2")}, {200, spotifyToken("tok3")}});
    server.script("GET", "/v1/search", {{200, spotifySearch(1985)}});
    server.handle("GET", "/v1/artists/abc123", [](const LoopbackServer::Request& r) {
        return Response(200, spotifyArtist("genre of " + r.header("Authorization")));
    });
    const auto lookup = [&](const QString& id = "id") { return spotify.lookup("client-Secret-42", "a-ha", id, "client-Secret-42"); };
    ConsoleCapture console;
    EXPECT_EQ(lookup(), (SpotifyLookupResult{1985, "genre of Bearer tok1"}));
    advance(3539s);
    EXPECT_TRUE(lookup("other")); // other credentials do not matter while the token is valid
    EXPECT_EQ(server.requests("/api/token").size(), 1u);
    advance(1s);
    EXPECT_EQ(lookup()->genre, QStringLiteral("genre of Bearer tok2"));
    server.handle("GET", "/v1/search", [](const LoopbackServer::Request& r) {
        return Response(r.header("Authorization") == "Bearer tok2" ? 401 : 200, spotifySearch(1985));
    });
    EXPECT_FALSE(lookup());
    EXPECT_FALSE(spotify.cachedToken());
    EXPECT_EQ(lookup()->genre, QStringLiteral("genre of Bearer tok3"));
    server.script("GET", "/v1/artists/abc123", {{429, spotifyArtist("wrong")}});
    EXPECT_EQ(lookup(), (SpotifyLookupResult{1985, std::nullopt}));
    EXPECT_EQ(spotify.cachedToken()->accessToken, QStringLiteral("tok3"));
    server.script("POST", "/api/token", {{401, R"({"error":"invalid_client"})"}});
    spotify.clearCachedToken();
    EXPECT_FALSE(lookup());
    const QString text = console.text();
    EXPECT_FALSE(text.isEmpty());
    for (const char* secret : {"client-Secret-42", "tok1", "tok3"}) {
        EXPECT_FALSE(text.contains(QLatin1String(secret))) << secret << text.toStdString();
    }
}

TEST(DiscogsService, GenreFromTheReleaseThenFromTheFirstHit) {
    const struct {
        const char* name;
        std::string search;
        std::vector<Response> release;
        std::optional<QString> genre;
        size_t releaseRequests;
    } cases[] = {
        {"no hits", R"({"results":[]})", {}, {}, 0},
        {"release genres", R"({"results":[{"id":123,"style":["Hit"]}]})", {{200, R"({"styles":[],"genres":["Electronic"]})"}}, "Electronic", 1},
        {"id not a number", R"({"results":[{"id":"123","style":["Synth-pop"],"genre":["Pop"]}]})", {}, "Synth-pop", 0},
        {"release empty", R"({"results":[{"id":123,"style":["New Wave"]}]})", {{200, R"({"styles":[],"genres":[]})"}}, "New Wave", 1},
        {"first hit unusable", R"({"results":[{"id":1.5,"style":[]},{"style":["Disco"]}]})", {}, {}, 0},
        {"huge id", R"({"results":[{"id":1e300,"style":["Disco"]}]})", {}, "Disco", 0},
    };
    for (const auto& c : cases) {
        LoopbackServer server;
        server.script("GET", "/database/search", {{200, c.search}});
        server.script("GET", "/releases/123", c.release);
        EXPECT_EQ(DiscogsService(server.endpoints(), {"k", "s"}).lookupGenre("T", "A"), c.genre) << c.name;
        EXPECT_EQ(server.requests().size(), 1 + c.releaseRequests) << c.name;
    }
}

TEST(LastFMService, TrackTagsThenArtistTags) {
    const std::string synthpop = lastFMArtistTags(R"({"name":"Synthpop"})");
    const struct {
        const char* name;
        Response track;
        Response artist;
        std::optional<QString> expected;
        std::size_t artistRequests;
    } cases[] = {
        {"first tag vetoes the track", {200, lastFMTrackTags(R"({"name":"Seen Live"},{"name":"Rock"})")}, {200, synthpop}, "Synthpop", 1},
        {"veto only on the first tag", {200, lastFMTrackTags(R"({"name":"Rock"},{"name":"Seen Live"})")}, {200, synthpop}, "Rock", 0},
        {"ignored names skipped", {200, lastFMTrackTags(R"({"name":"Awesome"},{"name":"Chill"},{"name":"Synthpop"})")}, {200, "{}"}, "Synthpop", 0},
        {"first tag without a name", {200, lastFMTrackTags(R"({"count":5},{"name":"Rock"})")}, {200, lastFMArtistTags(R"({"name":"love"},{"name":"New Wave"})")}, "New Wave", 1},
        {"empty tags", {200, lastFMTrackTags("")}, {200, lastFMArtistTags("")}, {}, 1},
        {"unknown track", {200, R"({"error":6,"message":"Track not found"})"}, {200, synthpop}, "Synthpop", 1},
        {"error status with a tag list", {500, lastFMTrackTags(R"({"name":"Rock"})")}, {404, synthpop}, {}, 1},
    };
    for (const auto& c : cases) {
        LoopbackServer server;
        server.handle("GET", "/2.0/", [&](const LoopbackServer::Request& r) { return r.query("method") == "track.getInfo" ? c.track : c.artist; });
        EXPECT_EQ(LastFMService(server.endpoints()).lookupGenre("T", "A", "key"), c.expected) << c.name;
        EXPECT_EQ(server.requests().size(), 1 + c.artistRequests) << c.name;
    }
}

// Keys stay off the console even when echoed; a blank key sends nothing, a blank artist no artist query.
TEST(LastFMService, KeysStayOffTheConsole) {
    LoopbackServer server;
    server.handle("GET", "/2.0/", [](const LoopbackServer::Request& r) { return Response(403, R"({"message":")" + r.query("api_key") + "\"}"); });
    server.handle("GET", "/database/search", [](const LoopbackServer::Request& r) {
        return Response(200, R"({"results":[{"id":123,"style":[")" + r.header("Authorization") + R"("]}]})");
    });
    server.handle("GET", "/releases/123", [](const LoopbackServer::Request& r) { return Response(401, R"({"message":")" + r.header("Authorization") + "\"}"); });
    ConsoleCapture console;
    EXPECT_EQ(LastFMService(server.endpoints()).lookupGenre("T", "", "k3y+Secret"), std::nullopt);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(LastFMService(server.endpoints()).lookupGenre("T", "A", " \t"), std::nullopt);
    EXPECT_EQ(server.requests().size(), 1u);
    DiscogsService(server.endpoints(), {"DKey0123", "DSecret0123"}).lookupGenre("DKey0123", "DSecret0123");
    const QString text = console.text();
    EXPECT_FALSE(text.isEmpty());
    for (const char* secret : {"k3y+Secret", "DKey0123", "DSecret0123"}) {
        EXPECT_FALSE(text.contains(QLatin1String(secret))) << secret << text.toStdString();
    }
}
