#include "services/SpotifyService.h"

#include "ConsoleCapture.h"
#include "LookupScenario.h"
#include "QtPrinters.h"
#include "services/LastFMService.h"

#include <QDate>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace LookupScenario;
using namespace std::chrono_literals;

// What goes into a header or a path must be clean; a year must be plausible.
TEST(SpotifyServiceTest, ReadsOnlyWellFormedAnswers) {
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
// rejects it; a refused artist keeps the year. Secrets, keys and tokens never
// reach the console, even from a server echoing them back. A blank Last.fm key
// sends nothing, a blank artist no artist query.
TEST(SpotifyServiceTest, TokenLifetimeAndSecrets) {
    LoopbackServer server;
    auto ticks = std::make_shared<std::atomic<std::chrono::steady_clock::rep>>(0);
    SpotifyService spotify(server.endpoints(), [ticks] {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks->load()));
    });
    const auto advance = [&](std::chrono::seconds s) { *ticks += std::chrono::steady_clock::duration(s).count(); };
    server.script("POST", "/api/token",
                  {{200, spotifyToken("tok1")}, {200, spotifyToken("tok2")}, {200, spotifyToken("tok3")}});
    server.script("GET", "/v1/search", {{200, spotifySearch(1985)}});
    server.handle("GET", "/v1/artists/abc123", [](const Request& r) {
        return Response(200, spotifyArtist("genre of " + r.header("Authorization")));
    });
    const auto lookup = [&](const QString& id = "id") {
        return spotify.lookup("client-Secret-42", "a-ha", id, "client-Secret-42");
    };
    ConsoleCapture console;
    EXPECT_EQ(lookup(), (SpotifyLookupResult{1985, "genre of Bearer tok1"}));
    advance(3539s);
    EXPECT_TRUE(lookup("other")); // other credentials do not matter while the token is valid
    EXPECT_EQ(server.requests("/api/token").size(), 1u);
    advance(1s);
    EXPECT_EQ(lookup()->genre, QStringLiteral("genre of Bearer tok2"));
    server.handle("GET", "/v1/search", [](const Request& r) {
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

    server.handle("GET", "/2.0/", [](const Request& r) {
        return Response(403, R"({"message":")" + r.query("api_key") + "\"}");
    });
    server.handle("GET", "/database/search", [](const Request& r) {
        return Response(200, R"({"results":[{"id":123,"style":[")" + r.header("Authorization") + R"("]}]})");
    });
    server.handle("GET", "/releases/123", [](const Request& r) {
        return Response(401, R"({"message":")" + r.header("Authorization") + "\"}");
    });
    EXPECT_EQ(LastFMService(server.endpoints()).lookupGenre("T", "", "k3y+Secret"), std::nullopt);
    EXPECT_EQ(LastFMService(server.endpoints()).lookupGenre("T", "A", " \t"), std::nullopt);
    EXPECT_EQ(server.requests("/2.0/").size(), 1u);
    DiscogsService(server.endpoints(), {"DKey0123", "DSecret0123"}).lookupGenre("DKey0123", "DSecret0123");
    const QString text = console.text();
    EXPECT_FALSE(text.isEmpty());
    for (const char* secret : {"client-Secret-42", "tok1", "tok3", "k3y+Secret", "DKey0123", "DSecret0123"}) {
        EXPECT_FALSE(text.contains(QLatin1String(secret))) << secret << text.toStdString();
    }
}
