#include "services/YearLookupService.h"

#include "LookupScenario.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace LookupScenario;
using namespace std::chrono_literals;
using Edit = std::function<void(SettingsSnapshot&)>;

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

const Edit genreOn = [](SettingsSnapshot& s) { s.enableGenreLookup = true; };
const Edit nothing = [](SettingsSnapshot&) {};
const Edit genreWithoutMB = [](SettingsSnapshot& s) { s.enableGenreLookup = true, s.useMusicBrainz = false; };

const std::string longGenre(5000, 'x');

struct SourceCase {
    const char* name;
    Edit edit;
    const char* title = "Song";
    std::optional<int> tagYear = {};
    std::string mb = mbEmpty;                        // MusicBrainz's answer to other titles
    std::map<std::string, std::string> mbTitles = {}; // and to these
    int ollamaTags = 0;                               // when set: Ollama is the AI; its list's status
    std::string ai = "Synthpop";                      // and its answer
    int spotifyYear = 0;                              // when set: Spotify is on
    std::string spotifyGenre = {};
    std::string discogs = {}; // when set: Discogs is on and answers this style
    std::string lastFM = {};  // when set: Last.fm is on and answers this tag
    YearLookupResult expected = {};
    std::map<std::string, std::size_t> requests = {};
};
const SourceCase sourceCases[] = {
    {.name = "plausible tag year: only the AI's genre (availability asked once)", .edit = genreOn,
     .tagYear = 1987, .mb = mbAnswer(1999, "rock"), .ollamaTags = 200,
     .expected = {1987, "Synthpop", "tag"},
     .requests = {{"/api/tags", 1}, {"/api/generate", 1}, {"/ws/2/recording", 0}}},
    {.name = "tag year without the genre lookup", .edit = nothing, .tagYear = 1987, .ollamaTags = 200,
     .expected = {1987, {}, "tag"},
     .requests = {{"/api/tags", 1}, {"/api/generate", 0}, {"/ws/2/recording", 0}}},
    {.name = "implausible tag year", .edit = nothing, .tagYear = 1900, .mb = mbAnswer(1984, {}),
     .expected = {1984, {}, "musicbrainz"}},
    {.name = "tag year ignored", .edit = [](SettingsSnapshot& s) { s.useExistingYearTag = false; },
     .tagYear = 1987, .mb = mbAnswer(1984, {}), .expected = {1984, {}, "musicbrainz"}},
    {.name = "MusicBrainz genre without a year is kept", .edit = nothing, .mb = mbAnswer({}, "synth-pop"),
     .expected = {{}, "synth-pop", {}}, .requests = {{"/ws/2/recording", 1}, {"/v1/messages", 0}}},
    {.name = "MusicBrainz genre beside the AI's year", .edit = nothing, .mb = mbAnswer({}, "synth-pop"),
     .ollamaTags = 200, .ai = "1984", .expected = {1984, "synth-pop", "ai"}},
    {.name = "the first query without the tempo", .edit = nothing, .title = "Song (128 BPM)",
     .mbTitles = {{"Song", mbAnswer(1984, {})}}, .expected = {1984, {}, "musicbrainz"},
     .requests = {{"/ws/2/recording", 1}}},
    {.name = "MusicBrainz year: its genre only through the genre lookup",
     .edit = [](SettingsSnapshot& s) { s.useDiscogs = true; }, .mb = mbAnswer(1987, "synth-pop"),
     .expected = {1987, {}, "musicbrainz"}},
    {.name = "MusicBrainz year and genre", .edit = genreOn, .mb = mbAnswer(1987, "synth-pop"),
     .expected = {1987, "synth-pop", "musicbrainz"}},
    {.name = "MusicBrainz genre too long", .edit = genreOn, .mb = mbAnswer(1987, longGenre),
     .expected = {1987, {}, "musicbrainz"}},
    {.name = "Spotify year brings its genre even with the genre lookup off", .edit = nothing,
     .spotifyYear = 1985, .spotifyGenre = "new wave", .expected = {1985, "new wave", "spotify"},
     .requests = {{"/ws/2/recording", 2}, {"/v1/search", 1}}},
    {.name = "Spotify year without genre runs the chain, without MusicBrainz's genre", .edit = genreOn,
     .mb = mbAnswer({}, "disco"), .spotifyYear = 1985, .lastFM = "Rock",
     .expected = {1985, "Rock", "spotify"}, .requests = {{"/api/token", 1}, {"/v1/search", 2}}},
    {.name = "Spotify genre with a control character", .edit = genreWithoutMB, .spotifyYear = 1985,
     .spotifyGenre = "\\u0007Pop", .expected = {1985, {}, "spotify"}},
    {.name = "Spotify genre for a tag year", .edit = genreWithoutMB, .tagYear = 1983, .spotifyYear = 1985,
     .spotifyGenre = "new wave", .expected = {1983, "new wave", "tag"}},
    {.name = "Discogs genre", .edit = genreWithoutMB, .tagYear = 1983, .discogs = "Italo Disco",
     .expected = {1983, "Italo Disco", "tag"}},
    {.name = "Discogs genre forging a line", .edit = genreWithoutMB, .tagYear = 1983,
     .discogs = "Rock\\n[2026-01-01] forged", .expected = {1983, {}, "tag"}},
    {.name = "Last.fm genre", .edit = genreWithoutMB, .tagYear = 1983, .lastFM = "House",
     .expected = {1983, "House", "tag"}},
    {.name = "Last.fm genre too long", .edit = genreWithoutMB, .tagYear = 1983, .lastFM = longGenre,
     .expected = {1983, {}, "tag"}},
    {.name = "unavailable AI: the retry without the suffix asks MusicBrainz only", .edit = nothing,
     .title = "Song - Radio Edit", .mbTitles = {{"Song - Radio Edit", mbAnswer({}, "disco")}},
     .ollamaTags = 404, .expected = {{}, "disco", {}},
     .requests = {{"/ws/2/recording", 3}, {"/api/tags", 1}, {"/api/generate", 0}}},
    {.name = "a retry year runs the chain with the retry title", .edit = genreOn,
     .title = "Song (Remastered)",
     .mbTitles = {{"Song (Remastered)", mbAnswer({}, "disco")}, {"Song", mbAnswer(1979, {})}},
     .lastFM = "Rock",
     .expected = {1979, "Rock", "musicbrainz"}, .requests = {{"/2.0/", 1}}},
};

} // namespace

using YearLookupServiceSourceTest = ::testing::TestWithParam<SourceCase>;

// Which source gives the year, and which genre comes with it. A long genre, or
// one with a control character, is none, from whichever source.
TEST_P(YearLookupServiceSourceTest, SourcesInTurnAndTheGenreTheyMayBring) {
    const SourceCase& c = GetParam();
    LoopbackServer server;
    MusicBrainzPacer pacer{1ms};
    YearLookupService service{server.endpoints(), quickTiming(), pacer};
    Settings settings;
    settings.change(c.edit);
    mbByTitle(server, c.mbTitles, c.mb);
    if (c.ollamaTags != 0) { // its availability costs a GET /api/tags
        settings.change([&](SettingsSnapshot& s) {
            s.selectedProvider = AIProviderType::ollama, s.customEndpoint = server.baseUrl();
        });
        server.script("GET", "/api/tags", {{c.ollamaTags, R"({"models":[{"name":"llama3"}]})"}});
        server.script("POST", "/api/generate", {{200, ollamaText(c.ai)}});
    }
    if (c.spotifyYear != 0) {
        settings.useSpotify();
        server.script("POST", "/api/token", {{200, spotifyToken()}});
        server.script("GET", "/v1/search", {{200, spotifySearch(c.spotifyYear)}});
        server.script("GET", "/v1/artists/abc123", {{200, spotifyArtist(c.spotifyGenre)}});
    }
    server.script("GET", "/database/search", {{200, R"({"results":[{"style":[")" + c.discogs + R"("]}]})"}});
    server.script("GET", "/2.0/", {{200, lastFMTrack(c.lastFM)}});
    settings.change([&](SettingsSnapshot& s) {
        s.useDiscogs = s.useDiscogs || !c.discogs.empty();
        s.useLastFM = !c.lastFM.empty();
        s.lastFMApiKey = QStringLiteral("lfm-key");
    });
    EXPECT_EQ(service.lookup(file(c.title, "Artist", c.tagYear), settings.source()), c.expected);
    for (const auto& [path, count] : c.requests) {
        EXPECT_EQ(server.requests(path).size(), count) << path;
    }
    for (const Request& r : server.requests("/2.0/")) {
        EXPECT_EQ(r.query("track"), "Song");
    }
}
INSTANTIATE_TEST_SUITE_P(, YearLookupServiceSourceTest, ::testing::ValuesIn(sourceCases), RowName());
