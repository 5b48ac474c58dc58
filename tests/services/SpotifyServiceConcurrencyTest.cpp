#include "services/SpotifyService.h"

#include "LookupScenario.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

using namespace LookupScenario;

namespace {

const QString kId = QStringLiteral("id");
const QString kSecret = QStringLiteral("secret");

// Search answers carry the searched title back as the artist id, so each
// lookup can tell its own answer; the artist's genre is "g" + that id.
void scriptEchoServer(LoopbackServer& server, std::chrono::milliseconds searchDelay = 0ms) {
    server.script("POST", "/api/token", {{200, spotifyToken()}});
    server.handle("GET", "/v1/search", [searchDelay](const LoopbackServer::Request& r) {
        const std::string q = r.query("q"); // "track:<id> artist:x"
        const std::string id = q.substr(6, q.find(' ') - 6);
        LoopbackServer::Response answer(
            200,
            R"({"tracks":{"items":[{"album":{"release_date":"1999"},"artists":[{"id":")" + id + R"("}]}]}})");
        if (id.rfind("slow", 0) == 0) {
            answer.delay = 10s;
        } else {
            answer.delay = searchDelay;
        }
        return answer;
    });
    for (int i = 0; i < 16; ++i) {
        const std::string id = "t" + std::to_string(i);
        server.script("GET", "/v1/artists/" + id, {{200, R"({"genres":["g)" + id + R"("]})"}});
    }
}

} // namespace

TEST(SpotifyServiceConcurrencyTest, ParallelLookupsEachGetTheirOwnAnswerAndShareTheToken) {
    LoopbackServer server;
    scriptEchoServer(server, 20ms);
    SpotifyService spotify(server.endpoints());

    size_t tokensAfterFirstWave = 0;
    for (int wave = 0; wave < 2; ++wave) {
        std::vector<std::optional<SpotifyLookupResult>> results(16);
        std::vector<std::thread> threads;
        for (int i = 0; i < 16; ++i) {
            threads.emplace_back([&, i] {
                results[i] = spotify.lookup(QStringLiteral("t%1").arg(i), QStringLiteral("x"), kId, kSecret);
            });
        }
        for (auto& t : threads) {
            t.join();
        }
        for (int i = 0; i < 16; ++i) {
            ASSERT_TRUE(results[i]);
            EXPECT_EQ(results[i]->year, 1999);
            EXPECT_EQ(results[i]->genre, QStringLiteral("gt%1").arg(i));
        }
        if (wave == 0) {
            tokensAfterFirstWave = server.requests("/api/token").size();
        }
    }
    // The first wave may race for a token; the second finds it cached.
    EXPECT_GE(tokensAfterFirstWave, 1u);
    EXPECT_LE(tokensAfterFirstWave, 16u);
    EXPECT_EQ(server.requests("/api/token").size(), tokensAfterFirstWave);
}
