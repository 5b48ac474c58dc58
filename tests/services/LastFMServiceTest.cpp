#include "ConsoleCapture.h"
#include "LookupScenario.h"
#include "LoopbackServer.h"

#include "services/LastFMService.h"

#include <gtest/gtest.h>

#include <optional>

using namespace LookupScenario;

namespace {

const char* kKey = "k3y+Secret";

// Routes /2.0/ by its "method" item, as Last.fm does.
void route(LoopbackServer& server, LoopbackServer::Response track, LoopbackServer::Response artist) {
    server.handle("GET", "/2.0/", [track, artist](const LoopbackServer::Request& r) {
        if (r.query("method") == "track.getInfo") {
            return track;
        }
        if (r.query("method") == "artist.getInfo") {
            return artist;
        }
        return LoopbackServer::Response(400, R"({"error":3,"message":"Invalid Method"})");
    });
}

std::size_t countMethod(const LoopbackServer& server, const std::string& method) {
    std::size_t n = 0;
    for (const auto& r : server.requests()) {
        n += r.query("method") == method ? 1 : 0;
    }
    return n;
}

} // namespace

TEST(LastFMServiceTest, TrackTagsThenArtistTags) {
    struct Case {
        const char* name;
        LoopbackServer::Response track;
        LoopbackServer::Response artist;
        std::optional<QString> expected;
        std::size_t artistRequests;
    };
    const std::string synthpop = lastFMArtistTags(R"({"name":"Synthpop"})");
    const std::vector<Case> cases = {
        {"first tag vetoes the track",
         {200, lastFMTrackTags(R"({"name":"Seen Live"},{"name":"Rock"})")},
         {200, synthpop},
         QStringLiteral("Synthpop"),
         1},
        {"veto only on the first tag",
         {200, lastFMTrackTags(R"({"name":"Rock"},{"name":"Seen Live"})")},
         {200, synthpop},
         QStringLiteral("Rock"),
         0},
        {"ignored names are skipped",
         {200, lastFMTrackTags(R"({"name":"Awesome"},{"name":"Chill"},{"name":"Synthpop"})")},
         {200, "{}"},
         QStringLiteral("Synthpop"),
         0},
        {"ignore compares lower-cased, exactly",
         {200, lastFMTrackTags(R"({"name":"Under 2000 Listeners"},{"name":"seen-live"})")},
         {200, "{}"},
         QStringLiteral("seen-live"),
         0},
        {"first tag without a name",
         {200, lastFMTrackTags(R"({"count":5},{"name":"Rock"})")},
         {200, lastFMArtistTags(R"({"name":"love"},{"name":"New Wave"})")},
         QStringLiteral("New Wave"),
         1},
        {"empty track tags", {200, lastFMTrackTags("")}, {200, lastFMArtistTags("")}, std::nullopt, 1},
        {"unknown track (error body)",
         {200, R"({"error":6,"message":"Track not found"})"},
         {200, synthpop},
         QStringLiteral("Synthpop"),
         1},
        {"error status with a tag list is not read",
         {500, lastFMTrackTags(R"({"name":"Rock"})")},
         {404, lastFMArtistTags(R"({"name":"Pop"})")},
         std::nullopt,
         1},
        {"single tag object instead of a list",
         {200, R"({"track":{"toptags":{"tag":{"name":"Rock"}}}})"},
         {200, "not json"},
         std::nullopt,
         1},
    };
    for (const Case& c : cases) {
        LoopbackServer server;
        route(server, c.track, c.artist);
        const LastFMService service(server.endpoints());
        EXPECT_EQ(service.lookupGenre(QStringLiteral("T"), QStringLiteral("A"), QString::fromLatin1(kKey)),
                  c.expected)
            << c.name;
        EXPECT_EQ(countMethod(server, "track.getInfo"), 1u) << c.name;
        EXPECT_EQ(countMethod(server, "artist.getInfo"), c.artistRequests) << c.name;
    }
}

TEST(LastFMServiceTest, RequestShape) {
    LoopbackServer server;
    route(server, {200, lastFMTrackTags("")}, {200, lastFMArtistTags("")});
    LastFMService(server.endpoints())
        .lookupGenre(QStringLiteral("Rock & Roll + More"), QStringLiteral("AC/DC"),
                     QString::fromLatin1(kKey));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto& track = requests[0];
    EXPECT_EQ(track.path, "/2.0/");
    EXPECT_EQ(track.query("method"), "track.getInfo");
    EXPECT_EQ(track.query("api_key"), kKey);
    EXPECT_EQ(track.query("track"), "Rock & Roll + More");
    EXPECT_EQ(track.query("artist"), "AC/DC");
    EXPECT_EQ(track.query("format"), "json");
    EXPECT_EQ(track.header("User-Agent"), "Velmora/1.0");
    EXPECT_FALSE(track.hasHeader("Accept"));
    const auto& artist = requests[1];
    EXPECT_EQ(artist.query("method"), "artist.getInfo");
    EXPECT_EQ(artist.query("artist"), "AC/DC");
    EXPECT_FALSE(artist.hasQuery("track"));
}

TEST(LastFMServiceTest, FailuresEndTheLookupAndTheKeyIsNeverPrinted) {
    ConsoleCapture console;
    {
        LoopbackServer server;
        route(server, {403, R"({"error":10,"message":"Invalid API key"})"}, {200, lastFMArtistTags("")});
        EXPECT_EQ(LastFMService(server.endpoints())
                      .lookupGenre(QStringLiteral("T"), QString(), QString::fromLatin1(kKey)),
                  std::nullopt);
        EXPECT_EQ(countMethod(server, "artist.getInfo"), 0u); // blank artist: no artist request
    }
    {
        LoopbackServer server;
        EXPECT_EQ(
            LastFMService(server.endpoints()).lookupGenre(QStringLiteral("T"), QStringLiteral("A"), " \t"),
            std::nullopt);
        EXPECT_TRUE(server.requests().empty());
    }
    EXPECT_FALSE(console.text().contains(QString::fromLatin1(kKey)));
}
