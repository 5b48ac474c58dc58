#include "LookupScenario.h"
#include "LoopbackServer.h"
#include "QtPrinters.h"

#include "services/YearLookupService.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace LookupScenario;
using Request = LoopbackServer::Request;
using Response = LoopbackServer::Response;
using Edit = std::function<void(SettingsSnapshot&)>;
using Prepare = std::function<void(LoopbackServer&, Settings&)>;

namespace {

// MusicBrainz answers by the title asked for, `other` for any other title.
void mbByTitle(LoopbackServer& server, std::map<std::string, std::string> answers, std::string other = mbEmpty) {
    server.handle("GET", "/ws/2/recording", [answers, other](const Request& r) {
        for (const auto& [title, body] : answers) {
            if (mbAsksFor(r, title)) {
                return Response(200, body);
            }
        }
        return Response(200, other);
    });
}

void spotify(LoopbackServer& server, Settings& settings, int year, const std::string& genre) {
    settings.useSpotify();
    server.script("POST", "/api/token", {{200, spotifyToken()}});
    server.script("GET", "/v1/search", {{200, spotifySearch(year)}});
    server.script("GET", "/v1/artists/abc123", {{200, spotifyArtist(genre)}});
}

void lastFM(LoopbackServer& server, Settings& settings) {
    server.script("GET", "/2.0/", {{200, lastFMTrack("Rock")}});
    settings.change([](SettingsSnapshot& s) {
        s.useLastFM = true;
        s.lastFMApiKey = QStringLiteral("lfm-key");
    });
}

const Edit genreOn = [](SettingsSnapshot& s) { s.enableGenreLookup = true; };
const Edit nothing = [](SettingsSnapshot&) {};

} // namespace

TEST(YearLookupService, SourcesInTurnAndTheGenreTheyMayBring) {
    const auto ollama = [](int tagsStatus) {
        return [tagsStatus](LoopbackServer& server, Settings& settings) {
            settings.useOllama(server);
            server.script("GET", "/api/tags", {{tagsStatus, R"({"models":[{"name":"llama3"}]})"}});
            server.script("POST", "/api/generate", {{200, ollamaText("Synthpop")}});
            mbByTitle(server, {}, mbAnswer(1999, "rock"));
        };
    };
    const struct {
        const char* name;
        Edit edit;
        Prepare setup;
        const char* title;
        std::optional<int> tagYear;
        YearLookupResult expected;
        std::map<std::string, std::size_t> requests;
    } cases[] = {
        {"plausible tag year: only the AI's genre (availability asked once)", genreOn, ollama(200), "Song", 1987,
         {1987, "Synthpop", "tag"}, {{"/api/tags", 1}, {"/api/generate", 1}, {"/ws/2/recording", 0}}},
        {"tag year without the genre lookup", nothing, ollama(200), "Song", 1987,
         {1987, {}, "tag"}, {{"/api/tags", 1}, {"/api/generate", 0}, {"/ws/2/recording", 0}}},
        {"implausible tag year", nothing, [](LoopbackServer& s, Settings&) { mbByTitle(s, {}, mbAnswer(1984, {})); }, "Song", 1900,
         {1984, {}, "musicbrainz"}, {}},
        {"tag year ignored", [](SettingsSnapshot& s) { s.useExistingYearTag = false; },
         [](LoopbackServer& s, Settings&) { mbByTitle(s, {}, mbAnswer(1984, {})); }, "Song", 1987, {1984, {}, "musicbrainz"}, {}},
        {"MusicBrainz genre without a year is kept", nothing,
         [](LoopbackServer& s, Settings&) { mbByTitle(s, {}, mbAnswer({}, "synth-pop")); }, "Song", {},
         {{}, "synth-pop", {}}, {{"/ws/2/recording", 1}, {"/v1/messages", 0}}},
        {"MusicBrainz year: its genre only through the genre lookup", [](SettingsSnapshot& s) { s.useDiscogs = true; },
         [](LoopbackServer& s, Settings&) { mbByTitle(s, {}, mbAnswer(1987, "synth-pop")); }, "Song", {}, {1987, {}, "musicbrainz"}, {}},
        {"MusicBrainz year and genre", genreOn, [](LoopbackServer& s, Settings&) { mbByTitle(s, {}, mbAnswer(1987, "synth-pop")); },
         "Song", {}, {1987, "synth-pop", "musicbrainz"}, {}},
        {"Spotify year brings its genre even with the genre lookup off", nothing,
         [](LoopbackServer& s, Settings& settings) {
             mbByTitle(s, {});
             spotify(s, settings, 1985, "new wave");
         },
         "Song", {}, {1985, "new wave", "spotify"}, {{"/ws/2/recording", 2}, {"/v1/search", 1}}},
        {"Spotify year without genre runs the chain, without MusicBrainz's genre", genreOn,
         [](LoopbackServer& s, Settings& settings) {
             mbByTitle(s, {}, mbAnswer({}, "disco"));
             spotify(s, settings, 1985, "");
             lastFM(s, settings);
         },
         "Song", {}, {1985, "Rock", "spotify"}, {{"/api/token", 1}, {"/v1/search", 2}}},
        {"every genre source failing keeps MusicBrainz's genre out", genreOn,
         [](LoopbackServer& s, Settings& settings) {
             mbByTitle(s, {}, mbAnswer({}, "disco"));
             spotify(s, settings, 1985, "");
         },
         "Song", {}, {1985, {}, "spotify"}, {}},
        {"unavailable AI: the retry without the suffix asks MusicBrainz only", nothing,
         [](LoopbackServer& s, Settings& settings) {
             settings.useOllama(s);
             s.script("GET", "/api/tags", {{404, "{}"}});
             mbByTitle(s, {{"Song - Radio Edit", mbAnswer({}, "disco")}});
         },
         "Song - Radio Edit", {}, {{}, "disco", {}}, {{"/ws/2/recording", 3}, {"/api/tags", 1}, {"/api/generate", 0}}},
        {"a retry year runs the chain with the retry title", genreOn,
         [](LoopbackServer& s, Settings& settings) {
             mbByTitle(s, {{"Song (Remastered)", mbAnswer({}, "disco")}, {"Song", mbAnswer(1979, {})}});
             lastFM(s, settings);
         },
         "Song (Remastered)", {}, {1979, "Rock", "musicbrainz"}, {{"/2.0/", 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        MusicBrainzPacer pacer{std::chrono::milliseconds(1)};
        YearLookupService service{server.endpoints(), quickTiming(), pacer};
        Settings settings;
        settings.change(c.edit);
        c.setup(server, settings);
        EXPECT_EQ(service.lookup(file(c.title, "Artist", c.tagYear), settings.source()), c.expected);
        for (const auto& [path, count] : c.requests) {
            EXPECT_EQ(server.requests(path).size(), count) << path;
        }
        for (const Request& r : server.requests("/2.0/")) {
            EXPECT_EQ(r.query("track"), "Song");
        }
    }
}

TEST(YearLookupService, GenreChainsTakeTheSourcesInTurn) {
    LoopbackServer server;
    MusicBrainzPacer pacer{std::chrono::milliseconds(1)};
    YearLookupService service{server.endpoints(), quickTiming(), pacer};
    Settings settings;
    settings.change(genreOn);
    settings.useClaude();
    const auto ai = service.makeAIService(settings.source());
    std::atomic<int> aiGenreQuestions{0};
    server.handle("POST", "/v1/messages", [&](const Request& r) {
        aiGenreQuestions += asksGenre(r) ? 1 : 0;
        return Response(200, claudeText("House"));
    });
    const auto fallback = [&](const std::optional<QString>& existing, bool aiAvailable) {
        return service.lookupGenreFallback(existing, "Song", "Artist", std::nullopt, "track.mp3", settings.source(), *ai, aiAvailable);
    };
    const auto forTagYear = [&](bool aiAvailable) {
        return service.lookupGenreForTagYear("Song", "Artist", std::nullopt, "track.mp3", settings.source(), *ai, aiAvailable);
    };
    EXPECT_EQ(fallback(QString(), true), QString()); // a genre handed in ends the chain, also an empty one
    EXPECT_EQ(fallback(QStringLiteral("Techno"), true), QStringLiteral("Techno"));
    EXPECT_EQ(fallback(std::nullopt, false).value_or("-") + forTagYear(false).value_or("-"), QStringLiteral("--"));
    EXPECT_TRUE(server.requests().empty());
    settings.change([](SettingsSnapshot& s) { s.useLastFM = true; }); // without a key: skipped
    EXPECT_EQ(fallback(std::nullopt, true).value_or("-") + forTagYear(true).value_or("-"), QStringLiteral("HouseHouse"));
    EXPECT_EQ(aiGenreQuestions.load(), 2);
    EXPECT_EQ(server.requests("/2.0/").size(), 0u);
    server.script("GET", "/database/search", {{200, R"({"results":[]})"}});
    settings.change([](SettingsSnapshot& s) { s.useDiscogs = true; });
    EXPECT_EQ(fallback(std::nullopt, false), std::nullopt);
    server.script("GET", "/database/search", {{200, discogsSearch("Synth-pop")}});
    EXPECT_EQ(forTagYear(true), QStringLiteral("Synth-pop"));
    settings.change([](SettingsSnapshot& s) { s.useDiscogs = false; });
    spotify(server, settings, 1985, "new wave");
    EXPECT_EQ(forTagYear(false), QStringLiteral("new wave"));
}
