#include "services/SpotifyService.h"

#include "ConsoleCapture.h"
#include "LookupScenario.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"

#include <QDate>

#include <gtest/gtest.h>

#include <atomic>

using namespace std::chrono_literals;

using namespace LookupScenario;

namespace {

const QString kId = QStringLiteral("client-id");
const QString kSecret = QStringLiteral("client-Secret-42");
const QString kTitle = QStringLiteral("Take On Me");
const QString kArtist = QStringLiteral("a-ha");

const std::string kSearchHit =
    R"({"tracks":{"items":[{"name":"Take On Me","album":{"release_date":"1985-06-01"},"artists":[{"id":"2jzc5TC5TVFLXQlBNiIUzE"}]}]}})";

// A manual clock for token expiry.
struct FakeClock {
    std::shared_ptr<std::atomic<std::chrono::steady_clock::duration::rep>> ticks =
        std::make_shared<std::atomic<std::chrono::steady_clock::duration::rep>>(0);

    SpotifyService::Clock clock() const {
        auto t = ticks;
        return [t] {
            return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(t->load()));
        };
    }
    void advance(std::chrono::steady_clock::duration d) const { *ticks += d.count(); }
};

// A server with a working token endpoint, search and artist.
void scriptHappyPath(LoopbackServer& server) {
    server.script("POST", "/api/token", {{200, spotifyToken("tok1")}});
    server.script("GET", "/v1/search", {{200, kSearchHit}});
    server.script("GET", "/v1/artists/2jzc5TC5TVFLXQlBNiIUzE",
                  {{200, R"({"genres":["synthpop","new wave"]})"}});
}

} // namespace

TEST(SpotifyServiceTest, YearFromReleaseDate) {
    EXPECT_EQ(SpotifyService::yearFromReleaseDate(QStringLiteral("1987-05-12")), 1987);
    EXPECT_EQ(SpotifyService::yearFromReleaseDate(QStringLiteral("1987-05")), 1987);
    EXPECT_EQ(SpotifyService::yearFromReleaseDate(QStringLiteral("1987")), 1987);
    EXPECT_EQ(SpotifyService::yearFromReleaseDate(QStringLiteral("-1987-")), 1987);
    EXPECT_EQ(SpotifyService::yearFromReleaseDate(QStringLiteral("1920")), 1920);
    const int year = QDate::currentDate().year();
    EXPECT_EQ(SpotifyService::yearFromReleaseDate(QString::number(year + 1)), year + 1);
    for (const QString& bad :
         {QStringLiteral("0000"), QStringLiteral(""), QStringLiteral("--"), QStringLiteral("1919-12-31"),
          QString::number(year + 2), QStringLiteral("19x7"), QStringLiteral(" 1987"),
          QStringLiteral("１９８７"), QStringLiteral("99999999999999")}) {
        EXPECT_FALSE(SpotifyService::yearFromReleaseDate(bad)) << bad.toStdString();
    }
}

TEST(SpotifyServiceTest, ReadsTheThreeAnswers) {
    EXPECT_EQ(SpotifyService::parseTokenResponse(spotifyToken("abc").c_str()),
              std::make_pair(QStringLiteral("abc"), qint64(3600)));
    EXPECT_FALSE(SpotifyService::parseTokenResponse(R"({"access_token":"abc","token_type":"Bearer"})"));
    EXPECT_FALSE(SpotifyService::parseTokenResponse(R"({"access_token":"abc","expires_in":"3600"})"));
    EXPECT_FALSE(SpotifyService::parseTokenResponse(R"({"access_token":"abc","expires_in":3600.5})"));
    EXPECT_FALSE(SpotifyService::parseTokenResponse(R"({"access_token":"abc","expires_in":true})"));
    EXPECT_FALSE(SpotifyService::parseTokenResponse(R"({"access_token":7,"expires_in":3600})"));
    EXPECT_FALSE(SpotifyService::parseTokenResponse(R"({"error":"invalid_client"})"));
    // The token goes into a header: no line breaks, blanks or other controls, not empty.
    EXPECT_FALSE(
        SpotifyService::parseTokenResponse(R"({"access_token":"abc\r\nX-Evil: 1","expires_in":3600})"));
    EXPECT_FALSE(SpotifyService::parseTokenResponse(R"({"access_token":"a b","expires_in":3600})"));
    EXPECT_FALSE(SpotifyService::parseTokenResponse(R"({"access_token":"","expires_in":3600})"));

    EXPECT_EQ(SpotifyService::parseSearchResponse(kSearchHit.c_str()),
              (SpotifyTrackHit{1985, QStringLiteral("2jzc5TC5TVFLXQlBNiIUzE")}));
    // An item without album and artists is a hit with both parts missing.
    EXPECT_EQ(SpotifyService::parseSearchResponse(R"({"tracks":{"items":[{"name":"x"}]}})"),
              SpotifyTrackHit{});
    EXPECT_EQ(SpotifyService::parseSearchResponse(
                  R"({"tracks":{"items":[{"album":{"release_date":1985},"artists":[{"id":5}]}]}})"),
              SpotifyTrackHit{});
    EXPECT_EQ(SpotifyService::parseSearchResponse(
                  R"({"tracks":{"items":[{"album":{"release_date":"0000"},"artists":[{"id":"a"},"b"]}]}})"),
              SpotifyTrackHit{});
    EXPECT_FALSE(SpotifyService::parseSearchResponse(R"({"tracks":{"items":[]}})"));
    EXPECT_FALSE(SpotifyService::parseSearchResponse(R"({"tracks":{"items":[{"a":1},2]}})"));
    EXPECT_FALSE(SpotifyService::parseSearchResponse(R"({"tracks":[]})"));
    EXPECT_FALSE(SpotifyService::parseSearchResponse(
        R"({"error":{"status":401,"message":"The access token expired"}})"));

    EXPECT_EQ(SpotifyService::parseArtistGenre(R"({"genres":["synthpop","new wave"]})"),
              QStringLiteral("synthpop"));
    EXPECT_FALSE(SpotifyService::parseArtistGenre(R"({"genres":[]})"));
    EXPECT_FALSE(SpotifyService::parseArtistGenre(R"({"genres":["a",null]})"));
    EXPECT_FALSE(SpotifyService::parseArtistGenre("[]"));
}

TEST(SpotifyServiceTest, ArtistIdsAreBase62Only) {
    EXPECT_TRUE(SpotifyService::isValidArtistId(QStringLiteral("2jzc5TC5TVFLXQlBNiIUzE")));
    for (const QString& bad : {QStringLiteral(""), QStringLiteral("../me"), QStringLiteral("abc?x=1"),
                               QStringLiteral("abc/def"), QStringLiteral("abc%2F"), QStringLiteral("abc def"),
                               QStringLiteral("äbc"), QStringLiteral("abc#")}) {
        EXPECT_FALSE(SpotifyService::isValidArtistId(bad)) << bad.toStdString();
    }
}

TEST(SpotifyServiceTest, RequestShapesOfTokenSearchAndArtist) {
    LoopbackServer server;
    scriptHappyPath(server);
    SpotifyService spotify(server.endpoints());

    const QString title = QStringLiteral("Café & Bar + 1");
    const auto result = spotify.lookup(title, kArtist, kId, kSecret);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, (SpotifyLookupResult{1985, QStringLiteral("synthpop")}));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    const auto& token = requests[0];
    EXPECT_EQ(token.method, "POST");
    EXPECT_EQ(token.path, "/api/token");
    EXPECT_EQ(token.header("Authorization"),
              "Basic " + QByteArray("client-id:client-Secret-42").toBase64().toStdString());
    EXPECT_EQ(token.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(token.body, "grant_type=client_credentials");
    EXPECT_FALSE(token.hasHeader("User-Agent"));

    const auto& search = requests[1];
    EXPECT_EQ(search.path, "/v1/search");
    const std::vector<std::pair<std::string, std::string>> params = {
        {"q", "track:Café & Bar + 1 artist:a-ha"}, {"type", "track"}, {"limit", "1"}};
    EXPECT_EQ(search.params, params);
    EXPECT_NE(search.target.find("%2B"), std::string::npos);
    EXPECT_EQ(search.header("Authorization"), "Bearer tok1");
    EXPECT_EQ(search.header("User-Agent"), Endpoints::userAgentWithSite().toStdString());

    EXPECT_EQ(requests[2].path, "/v1/artists/2jzc5TC5TVFLXQlBNiIUzE");
    EXPECT_EQ(requests[2].header("Authorization"), "Bearer tok1");
}

TEST(SpotifyServiceTest, TokenIsReusedUntilAMinuteBeforeItExpires) {
    LoopbackServer server;
    scriptHappyPath(server);
    server.script("POST", "/api/token", {{200, spotifyToken("tok1")}, {200, spotifyToken("tok2")}});
    FakeClock clock;
    SpotifyService spotify(server.endpoints(), clock.clock());

    ASSERT_TRUE(spotify.lookup(kTitle, kArtist, kId, kSecret));
    clock.advance(3539s);
    // Changed credentials do not matter while the token is valid.
    ASSERT_TRUE(spotify.lookup(kTitle, kArtist, QStringLiteral("other"), QStringLiteral("other")));
    EXPECT_EQ(server.requests("/api/token").size(), 1u);

    clock.advance(1s); // 3540 s after it was received
    ASSERT_TRUE(spotify.lookup(kTitle, kArtist, kId, kSecret));
    EXPECT_EQ(server.requests("/api/token").size(), 2u);
    EXPECT_EQ(server.requests("/v1/search").back().header("Authorization"), "Bearer tok2");
    EXPECT_EQ(spotify.cachedToken()->accessToken, QStringLiteral("tok2"));
}

TEST(SpotifyServiceTest, RejectedTokenIsDroppedAndErrorStatusesFail) {
    LoopbackServer server;
    scriptHappyPath(server);
    server.script("POST", "/api/token", {{200, spotifyToken("tok1")}, {200, spotifyToken("tok2")}});
    // The API refuses the first token once, with a body shaped like a hit.
    server.handle("GET", "/v1/search", [](const LoopbackServer::Request& r) {
        if (r.header("Authorization") == "Bearer tok1") {
            return LoopbackServer::Response(401, kSearchHit);
        }
        return LoopbackServer::Response(200, kSearchHit);
    });
    SpotifyService spotify(server.endpoints());
    EXPECT_FALSE(spotify.lookup(kTitle, kArtist, kId, kSecret));
    EXPECT_FALSE(spotify.cachedToken());
    EXPECT_EQ(spotify.lookup(kTitle, kArtist, kId, kSecret),
              (SpotifyLookupResult{1985, QStringLiteral("synthpop")}));
    EXPECT_EQ(server.requests("/api/token").size(), 2u);

    // Too many requests on the artist: the year stays, the token too.
    server.script("GET", "/v1/artists/2jzc5TC5TVFLXQlBNiIUzE", {{429, R"({"genres":["wrong"]})"}});
    EXPECT_EQ(spotify.lookup(kTitle, kArtist, kId, kSecret), (SpotifyLookupResult{1985, std::nullopt}));
    EXPECT_EQ(spotify.cachedToken()->accessToken, QStringLiteral("tok2"));
}

TEST(SpotifyServiceTest, ClientSecretAndTokenNeverReachTheConsole) {
    LoopbackServer server;
    const std::string token = "SecretAccessToken123";
    server.script("POST", "/api/token", {{200, spotifyToken(token)}});
    // A broken server echoing what it was sent.
    server.script(
        "GET", "/v1/search",
        {{200, R"({"tracks":{"items":[{"album":{"release_date":"1985"},"artists":[{"id":"abc"}]}]}})"}});
    server.handle("GET", "/v1/artists/abc", [](const LoopbackServer::Request& r) {
        return LoopbackServer::Response(200, R"({"genres":[")" + r.header("Authorization") + R"("]})");
    });
    SpotifyService spotify(server.endpoints());

    ConsoleCapture console;
    // Even a title made of the secret is not printed.
    EXPECT_TRUE(spotify.lookup(kSecret, kArtist, kId, kSecret));
    server.script("POST", "/api/token", {{401, R"({"error":"invalid_client"})"}});
    spotify.clearCachedToken();
    EXPECT_FALSE(spotify.lookup(kSecret, kArtist, kId, kSecret));
    const QString text = console.text();
    EXPECT_FALSE(text.isEmpty());
    EXPECT_FALSE(text.contains(kSecret)) << text.toStdString();
    EXPECT_FALSE(text.contains(QString::fromStdString(token))) << text.toStdString();
}
