#include "ClosedPort.h"
#include "LogCapture.h"
#include "LookupScenario.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"

#include "services/YearLookupService.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace LookupScenario;
using Request = LoopbackServer::Request;
using Response = LoopbackServer::Response;

namespace {

const QString kFile = QStringLiteral("track.mp3");

YearLookupResult result(std::optional<int> year, std::optional<QString> genre,
                        std::optional<QString> source) {
    return {year, std::move(genre), std::move(source)};
}

class YearLookupServiceTest : public ::testing::Test {
protected:
    YearLookupResult run(const MusicFile& f) { return service.lookup(f, settings.source()); }
    std::size_t count(const std::string& path) const { return server.requests(path).size(); }

    // MusicBrainz answers by the title asked for; `other` for any other title.
    void mbByTitle(std::map<std::string, std::string> answers, std::string other = mbEmpty) {
        server.handle("GET", "/ws/2/recording", [answers, other](const Request& r) {
            for (const auto& [title, body] : answers) {
                if (mbAsksFor(r, title)) {
                    return Response(200, body);
                }
            }
            return Response(200, other);
        });
    }
    void spotifyAnswers(int year, const std::string& genre) {
        server.script("POST", "/api/token", {{200, spotifyToken()}});
        server.script("GET", "/v1/search", {{200, spotifySearch(year)}});
        server.script("GET", "/v1/artists/abc123", {{200, spotifyArtist(genre)}});
    }

    LoopbackServer server;
    MusicBrainzPacer pacer{std::chrono::milliseconds(1)};
    YearLookupService service{server.endpoints(), quickTiming(), pacer};
    Settings settings;
    LogCapture log;
};

} // namespace

TEST_F(YearLookupServiceTest, PlausibleTagYearAsksNoSourceForAYearButAvailabilityOnce) {
    settings.useOllama(server);
    settings.change([](SettingsSnapshot& s) { s.enableGenreLookup = true; });
    server.script("GET", "/api/tags", {{200, R"({"models":[{"name":"llama3"}]})"}});
    server.script("POST", "/api/generate", {{200, ollamaText("Synthpop")}});
    mbByTitle({}, mbAnswer(1999, "rock"));

    EXPECT_EQ(run(file(QStringLiteral("Song"), QStringLiteral("Artist"), 1987)),
              result(1987, QStringLiteral("Synthpop"), QStringLiteral("tag")));
    EXPECT_EQ(count("/api/tags"), 1u);
    EXPECT_EQ(count("/ws/2/recording"), 0u);
    ASSERT_EQ(count("/api/generate"), 1u);
    EXPECT_TRUE(asksGenre(server.requests("/api/generate")[0]));

    // Without the genre lookup the tag year comes alone; availability is still asked.
    settings.change([](SettingsSnapshot& s) { s.enableGenreLookup = false; });
    EXPECT_EQ(run(file(QStringLiteral("Song"), QStringLiteral("Artist"), 1987)),
              result(1987, std::nullopt, QStringLiteral("tag")));
    EXPECT_EQ(count("/api/tags"), 2u);
    EXPECT_EQ(count("/api/generate"), 1u);
    EXPECT_EQ(count("/ws/2/recording"), 0u);
}

TEST_F(YearLookupServiceTest, ImplausibleOrIgnoredTagYearLetsTheSearchGoOn) {
    mbByTitle({}, mbAnswer(1984, std::nullopt));

    EXPECT_EQ(run(file(QStringLiteral("Song"), QStringLiteral("Artist"), 1900)),
              result(1984, std::nullopt, QStringLiteral("musicbrainz")));

    settings.change([](SettingsSnapshot& s) { s.useExistingYearTag = false; });
    EXPECT_EQ(run(file(QStringLiteral("Song"), QStringLiteral("Artist"), 1987)),
              result(1984, std::nullopt, QStringLiteral("musicbrainz")));
}

TEST_F(YearLookupServiceTest, MusicBrainzGenreWithoutYearIsReturnedWhenNothingFindsAYear) {
    mbByTitle({}, mbAnswer(std::nullopt, "synth-pop"));

    // Genre lookup off: the kept genre does not go through the chains.
    EXPECT_EQ(run(file(QStringLiteral("Plain Song"))),
              result(std::nullopt, QStringLiteral("synth-pop"), std::nullopt));
    EXPECT_EQ(count("/ws/2/recording"), 1u);
    EXPECT_EQ(count("/v1/messages"), 0u);
}

TEST_F(YearLookupServiceTest, MusicBrainzYearTakesItsGenreOnlyThroughTheGenreLookup) {
    mbByTitle({}, mbAnswer(1987, "synth-pop"));
    settings.change([](SettingsSnapshot& s) { s.useDiscogs = true; });

    EXPECT_EQ(run(file(QStringLiteral("Song"))), result(1987, std::nullopt, QStringLiteral("musicbrainz")));

    settings.change([](SettingsSnapshot& s) { s.enableGenreLookup = true; });
    EXPECT_EQ(run(file(QStringLiteral("Song"))),
              result(1987, QStringLiteral("synth-pop"), QStringLiteral("musicbrainz")));
}

TEST_F(YearLookupServiceTest, SpotifyYearWithItsGenreIsReturnedEvenWithTheGenreLookupOff) {
    mbByTitle({});
    settings.useSpotify();
    spotifyAnswers(1985, "new wave");

    EXPECT_EQ(run(file(QStringLiteral("Song"))),
              result(1985, QStringLiteral("new wave"), QStringLiteral("spotify")));
    EXPECT_EQ(count("/ws/2/recording"), 2u); // with the artist, then the title alone
    ASSERT_EQ(count("/v1/search"), 1u);
    EXPECT_EQ(server.requests("/v1/search")[0].query("q"), "track:Song artist:Artist");
}

TEST_F(YearLookupServiceTest, SpotifyYearWithoutGenreRunsTheChainWithoutMusicBrainzGenre) {
    mbByTitle({}, mbAnswer(std::nullopt, "disco"));
    settings.useSpotify();
    spotifyAnswers(1985, "");
    server.script("GET", "/database/search", {{200, R"({"results":[]})"}});
    server.script("GET", "/2.0/", {{200, lastFMTrack("Rock")}});
    settings.change([](SettingsSnapshot& s) {
        s.enableGenreLookup = true;
        s.useDiscogs = true;
        s.useLastFM = true;
        s.lastFMApiKey = QStringLiteral("lfm-key");
    });

    EXPECT_EQ(run(file(QStringLiteral("Song"))),
              result(1985, QStringLiteral("Rock"), QStringLiteral("spotify")));
    // The chain asked Spotify again, with the token of the first request.
    EXPECT_EQ(count("/api/token"), 1u);
    EXPECT_EQ(count("/v1/search"), 2u);

    // With every genre source failing, MusicBrainz's genre is still not used.
    settings.change([](SettingsSnapshot& s) { s.useLastFM = false; });
    EXPECT_EQ(run(file(QStringLiteral("Song"))), result(1985, std::nullopt, QStringLiteral("spotify")));
}

TEST_F(YearLookupServiceTest, UnavailableProviderIsNamedOnceAndTheRetryAsksOnlyMusicBrainz) {
    mbByTitle({{"Song - Radio Edit", mbAnswer(std::nullopt, "disco")}});
    settings.change([](SettingsSnapshot& s) { s.appLanguage = AppLanguage::english; });
    settings.useOllama(server);
    server.script("GET", "/api/tags", {{404, "{}"}});

    // The retry's empty answer leaves the genre kept from the first pass.
    EXPECT_EQ(run(file(QStringLiteral("Song - Radio Edit"))),
              result(std::nullopt, QStringLiteral("disco"), std::nullopt));
    const auto mb = server.requests("/ws/2/recording");
    ASSERT_EQ(mb.size(), 3u);
    EXPECT_TRUE(mbAsksFor(mb[0], "Song - Radio Edit"));
    EXPECT_TRUE(mbAsksFor(mb[1], "Song"));
    EXPECT_EQ(count("/api/tags"), 1u);
    EXPECT_EQ(count("/api/generate"), 0u);
}

TEST_F(YearLookupServiceTest, RetryYearFromMusicBrainzRunsTheChainWithoutTheKeptGenre) {
    mbByTitle(
        {{"Song (Remastered)", mbAnswer(std::nullopt, "disco")}, {"Song", mbAnswer(1979, std::nullopt)}});
    server.script("GET", "/2.0/", {{200, lastFMTrack("Rock")}});
    settings.change([](SettingsSnapshot& s) {
        s.enableGenreLookup = true;
        s.useLastFM = true;
        s.lastFMApiKey = QStringLiteral("lfm-key");
    });

    EXPECT_EQ(run(file(QStringLiteral("Song (Remastered)"))),
              result(1979, QStringLiteral("Rock"), QStringLiteral("musicbrainz")));
    ASSERT_EQ(count("/2.0/"), 1u);
    EXPECT_EQ(server.requests("/2.0/")[0].query("track"), "Song"); // the chain uses the retry title
}

// ---------------------------------------------------------------------------
// The genre chains, called on their own.

class GenreChainTest : public YearLookupServiceTest {
protected:
    std::optional<QString> fallback(const std::optional<QString>& existing, bool aiAvailable) {
        return service.lookupGenreFallback(existing, QStringLiteral("Song"), QStringLiteral("Artist"),
                                           std::nullopt, kFile, settings.source(), *ai(), aiAvailable);
    }
    std::optional<QString> forTagYear(bool aiAvailable) {
        return service.lookupGenreForTagYear(QStringLiteral("Song"), QStringLiteral("Artist"), std::nullopt,
                                             kFile, settings.source(), *ai(), aiAvailable);
    }
    std::shared_ptr<AIService> ai() {
        settings.useClaude();
        return service.makeAIService(settings.source());
    }
};

TEST_F(GenreChainTest, SourcesInTurnWithTheirLines) {
    settings.change([](SettingsSnapshot& s) { s.enableGenreLookup = true; });
    std::atomic<int> aiGenreQuestions{0};
    server.handle("POST", "/v1/messages", [&](const Request& r) {
        aiGenreQuestions += asksGenre(r) ? 1 : 0;
        return Response(200, claudeText("House"));
    });

    // A genre handed in ends the chain at once, also an empty one.
    EXPECT_EQ(fallback(QString(), true), QString());
    EXPECT_EQ(fallback(QStringLiteral("Techno"), true), QStringLiteral("Techno"));
    // Every source off and no AI: nothing, silently.
    EXPECT_EQ(fallback(std::nullopt, false), std::nullopt);
    EXPECT_EQ(forTagYear(false), std::nullopt);
    EXPECT_TRUE(server.requests().empty());

    // Last.fm without a key is skipped; the AI answers (timed and logged only for a tag year).
    settings.change([](SettingsSnapshot& s) { s.useLastFM = true; });
    EXPECT_EQ(fallback(std::nullopt, true), QStringLiteral("House"));
    EXPECT_EQ(forTagYear(true), QStringLiteral("House"));
    EXPECT_EQ(aiGenreQuestions.load(), 2);
    EXPECT_EQ(count("/2.0/"), 0u);

    // Discogs first; its failure is logged by the fallback chain only.
    server.script("GET", "/database/search", {{200, R"({"results":[]})"}});
    settings.change([](SettingsSnapshot& s) { s.useDiscogs = true; });
    EXPECT_EQ(fallback(std::nullopt, false), std::nullopt);
    EXPECT_EQ(forTagYear(false), std::nullopt);
    server.script("GET", "/database/search", {{200, discogsSearch("Synth-pop")}});
    EXPECT_EQ(forTagYear(true), QStringLiteral("Synth-pop"));

    // Spotify's genre, with the tag-year prefix.
    settings.change([](SettingsSnapshot& s) { s.useDiscogs = false; });
    settings.useSpotify();
    spotifyAnswers(1985, "new wave");
    EXPECT_EQ(forTagYear(false), QStringLiteral("new wave"));
}
