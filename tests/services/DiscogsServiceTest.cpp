#include "services/DiscogsService.h"

#include "ConsoleCapture.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"

#include <QJsonValue>

#include <gtest/gtest.h>

namespace {

const QString kKey = QStringLiteral("TestKey0123456789abc");
const QString kSecret = QStringLiteral("TestSecret0123456789abcdefghijkl");

DiscogsService makeService(const LoopbackServer& server) {
    return DiscogsService(server.endpoints(), {kKey, kSecret});
}

} // namespace

TEST(DiscogsServiceTest, ReleaseIdsAreWholeNumbersOnly) {
    EXPECT_EQ(DiscogsService::integerValue(QJsonValue(249504)), 249504);
    EXPECT_EQ(DiscogsService::integerValue(QJsonValue(249504.0)), 249504);
    EXPECT_FALSE(DiscogsService::integerValue(QJsonValue(2.5)));
    EXPECT_FALSE(DiscogsService::integerValue(QJsonValue(true)));
    EXPECT_FALSE(DiscogsService::integerValue(QJsonValue(QStringLiteral("249504"))));
    EXPECT_FALSE(DiscogsService::integerValue(QJsonValue(1e300)));
    EXPECT_FALSE(DiscogsService::integerValue(QJsonValue()));
}

TEST(DiscogsServiceTest, SearchRequestCarriesEncodedQueryAndFixedHeaders) {
    LoopbackServer server;
    server.script("GET", "/database/search", {{200, R"({"results":[{"style":["Disco"]}]})"}});
    const DiscogsService discogs = makeService(server);

    const QString title = QStringLiteral("Rock & Roll + Café");
    const QString artist = QStringLiteral("Ünïcode Band");
    EXPECT_EQ(discogs.lookupGenre(title, artist), QStringLiteral("Disco"));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_EQ(r.method, "GET");
    const std::vector<std::pair<std::string, std::string>> expected = {{"type", "release"},
                                                                       {"track", title.toStdString()},
                                                                       {"artist", artist.toStdString()},
                                                                       {"per_page", "5"}};
    EXPECT_EQ(r.params, expected);
    EXPECT_NE(r.target.find("track=Rock%20%26%20Roll%20%2B%20Caf%C3%A9"), std::string::npos) << r.target;
    EXPECT_EQ(r.header("Authorization"),
              "Discogs key=" + kKey.toStdString() + ", secret=" + kSecret.toStdString());
    EXPECT_EQ(r.header("User-Agent"), Endpoints::userAgentWithSite().toStdString());
    EXPECT_FALSE(r.hasHeader("Accept"));
}

TEST(DiscogsServiceTest, GenreComesFromReleaseThenFromTheFirstHit) {
    const QString title = QStringLiteral("Take On Me");
    const QString artist = QStringLiteral("a-ha");
    struct Case {
        const char* name;
        std::string search;
        std::vector<LoopbackServer::Response> release;
        std::optional<QString> genre;
        size_t releaseRequests;
    };
    const std::vector<Case> cases = {
        {"no hits", R"({"results":[]})", {}, std::nullopt, 0},
        {"release with genres only",
         R"({"results":[{"id":123,"style":["Hit Style"]}]})",
         {{200, R"({"styles":[],"genres":["Electronic"]})"}},
         QStringLiteral("Electronic"),
         1},
        {"id not a number",
         R"({"results":[{"id":"123","style":["Synth-pop"],"genre":["Pop"]}]})",
         {},
         QStringLiteral("Synth-pop"),
         0},
        {"no id, genre only", R"({"results":[{"genre":["Pop"],"style":[]}]})", {}, QStringLiteral("Pop"), 0},
        {"release gives nothing",
         R"({"results":[{"id":7,"style":["New Wave"]}]})",
         {{200, R"({"styles":[],"genres":[]})"}},
         QStringLiteral("New Wave"),
         1},
        {"nothing usable in the first hit",
         R"({"results":[{"id":1.5,"style":[]},{"style":["Disco"]}]})",
         {},
         std::nullopt,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        server.script("GET", "/database/search", {{200, c.search}});
        server.script("GET", "/releases/123", c.release);
        server.script("GET", "/releases/7", c.release);
        const DiscogsService discogs = makeService(server);

        EXPECT_EQ(discogs.lookupGenre(title, artist), c.genre);
        EXPECT_EQ(server.requests().size(), 1 + c.releaseRequests);
        for (const auto& r : server.requests()) {
            EXPECT_EQ(r.header("Authorization").rfind("Discogs key=", 0), 0u);
        }
    }
}

TEST(DiscogsServiceTest, ConsumerKeyAndSecretNeverReachTheConsole) {
    LoopbackServer server;
    // A hostile or broken server that echoes the credentials back everywhere.
    server.handle("GET", "/database/search", [](const LoopbackServer::Request& r) {
        const std::string auth = r.header("Authorization");
        return LoopbackServer::Response(200, R"({"results":[{"id":9,"style":[")" + auth + R"("]}]})");
    });
    server.handle("GET", "/releases/9", [](const LoopbackServer::Request& r) {
        return LoopbackServer::Response(401, R"({"message":")" + r.header("Authorization") + R"("})");
    });
    const DiscogsService discogs = makeService(server);

    ConsoleCapture console;
    discogs.lookupGenre(kKey, kSecret); // even as title and artist
    const QString text = console.text();
    EXPECT_FALSE(text.isEmpty());
    EXPECT_FALSE(text.contains(kKey)) << text.toStdString();
    EXPECT_FALSE(text.contains(kSecret)) << text.toStdString();
}
