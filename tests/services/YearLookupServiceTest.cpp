#include "services/YearLookupService.h"

#include "LookupScenario.h"
#include "QtPrinters.h"

#include "model/AppSettings.h"

#include <QJsonDocument>

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
const Edit spotifyOffWithCredentials = [](SettingsSnapshot& s) {
    genreWithoutMB(s), s.spotifyClientId = "client-id", s.spotifyClientSecret = "client-secret";
};

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
    {.name = "MusicBrainz and Spotify off: neither is asked, stored credentials or not",
     .edit = spotifyOffWithCredentials, .title = "Song - Radio Edit",
     .requests = {{"/ws/2/recording", 0}, {"/api/token", 0}, {"/v1/search", 0}}},
    {.name = "Spotify off: no genre from it either", .edit = spotifyOffWithCredentials, .tagYear = 1983,
     .lastFM = "House", .expected = {1983, "House", "tag"}, .requests = {{"/api/token", 0}, {"/v1/search", 0}}},
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

// A source that did not answer in time is not asked again by the same lookup,
// not even with the cleaned title, and both failures are told.
TEST(YearLookupServiceTest, ASilentSourceIsAskedOncePerLookup) {
    Settings settings;
    LoopbackServer server;
    MusicBrainzPacer pacer{1ms};
    MusicBrainzTiming timing = quickTiming();
    timing.requestTimeout = 150ms;
    YearLookupService service{server.endpoints(), timing, pacer};
    Response silent(200, mbEmpty);
    silent.delay = 3s;
    server.script("GET", "/ws/2/recording", {silent});
    server.script("GET", "/api/tags", {{200, R"({"models":[]})"}});
    server.script("POST", "/api/generate", {silent});
    settings.change([&](SettingsSnapshot& s) {
        s.selectedProvider = AIProviderType::ollama, s.customEndpoint = server.baseUrl();
        s.appLanguage = AppLanguage::english, s.requestTimeoutSeconds = 1;
    });
    SourceFailures failures;
    EXPECT_EQ(service.lookup(file("Song - Radio Edit"), settings.source(), CancelToken(), &failures),
              YearLookupResult{});
    EXPECT_EQ(server.requests("/ws/2/recording").size(), 1u);
    EXPECT_EQ(server.requests("/api/generate").size(), 1u);
    EXPECT_EQ(failures.list(),
              (QList<SourceFailure>{{"MusicBrainz", SourceFailure::Reason::timedOut, {}},
                                    {"Ollama (Local)", SourceFailure::Reason::timedOut, {}}}));
}

// Why the AI gave no answer is told in the interface language, as every source
// tells it, on the availability check and on the question alike, and under the
// name of the provider the lookup began with: the user chooses another one
// while MusicBrainz is asked.
TEST(YearLookupServiceTest, AnAIFailureIsToldInTheUsersLanguage) {
    using enum AIProviderType;
    using enum AppLanguage;
    using Reason = SourceFailure::Reason;
    enum Fault { silent, refused, listStatus };
    const struct {
        AIProviderType provider;
        Fault fault;
        AppLanguage language;
        Reason reason;
        QString text; // the whole line, or its start before the transport's own words
    } cases[] = {
        {claude, silent, german, Reason::timedOut, "Claude (Anthropic): Zeitüberschreitung"},
        {openai, silent, english, Reason::timedOut, "ChatGPT (OpenAI): timed out"},
        {ollama, silent, german, Reason::timedOut, "Ollama (Lokal): Zeitüberschreitung"},
        {lmstudio, silent, english, Reason::timedOut, "LM Studio (Local): timed out"},
        {claude, refused, english, Reason::unreachable, "Claude (Anthropic): could not connect: "},
        {openai, refused, german, Reason::unreachable, "ChatGPT (OpenAI): keine Verbindung: "},
        {ollama, refused, english, Reason::unreachable, "Ollama (Local): could not connect: "},
        {custom, refused, german, Reason::unreachable, "Benutzerdefiniert: keine Verbindung: "},
        {ollama, listStatus, german, Reason::httpStatus, "Ollama (Lokal): HTTP 503"},
        {lmstudio, listStatus, english, Reason::httpStatus, "LM Studio (Local): HTTP 503"},
    };
    for (const auto& c : cases) {
        AppSettings::shared().setAppLanguage(c.language);
        LoopbackServer server;
        Endpoints endpoints = server.endpoints();
        const QString closed = closedLoopbackUrl();
        if (c.fault == refused) {
            endpoints.anthropicMessages = closed + "/v1/messages";
            endpoints.openAIChat = closed + "/v1/chat/completions";
        }
        MusicBrainzPacer pacer{1ms};
        YearLookupService service{endpoints, quickTiming(), pacer};
        Settings settings;
        settings.change([&](SettingsSnapshot& s) {
            s.selectedProvider = c.provider, s.appLanguage = c.language, s.requestTimeoutSeconds = 1;
            s.customEndpoint = c.fault == refused ? closed : server.baseUrl();
            s.apiKeys = {{claude, "sk-claude"}, {openai, "sk-openai"}};
        });
        server.handle("GET", "/ws/2/recording", [&](const Request&) {
            settings.change(
                [&](SettingsSnapshot& s) { s.selectedProvider = c.provider == claude ? openai : claude; });
            return Response(200, mbEmpty);
        });
        server.script("GET", "/api/tags", {{c.fault == listStatus ? 503 : 200, R"({"models":[]})"}});
        server.script("GET", "/v1/models", {{c.fault == listStatus ? 503 : 200, R"({"data":[]})"}});
        Response never(200, "{}");
        never.delay = 5s;
        for (const char* path : {"/v1/messages", "/v1/chat/completions", "/api/generate"}) {
            server.script("POST", path, {never});
        }
        SourceFailures failures;
        EXPECT_EQ(service.lookup(file("Song"), settings.source(), CancelToken(), &failures),
                  YearLookupResult{});
        const QList<SourceFailure> told = failures.list();
        ASSERT_EQ(told.size(), 1) << c.text.toStdString();
        EXPECT_EQ(told[0].reason, c.reason) << c.text.toStdString();
        EXPECT_TRUE(told[0].text().startsWith(c.text)) << told[0].text().toStdString();
    }
}

// A lookup's AI requests carry the key and the model of the provider it began
// with, also when the user chooses another provider meanwhile.
TEST(YearLookupServiceTest, AProviderChosenMidLookupGetsNothingOfIt) {
    using enum AIProviderType;
    const struct {
        AIProviderType from, to;
        std::string path, keyHeader, key, model;
    } cases[] = {
        {claude, openai, "/v1/messages", "x-api-key", "sk-claude", "claude-haiku-4-5-20251001"},
        {openai, custom, "/v1/chat/completions", "Authorization", "Bearer sk-openai", "gpt-4o-mini"},
        {custom, claude, "/v1/chat/completions", "Authorization", "Bearer sk-custom", ""},
    };
    for (const auto& c : cases) {
        Settings settings;
        LoopbackServer server;
        MusicBrainzPacer pacer{1ms};
        YearLookupService service{server.endpoints(), quickTiming(), pacer};
        settings.change([&](SettingsSnapshot& s) {
            s.selectedProvider = c.from, s.customEndpoint = server.baseUrl(), s.enableGenreLookup = true;
            s.apiKeys = {{claude, "sk-claude"}, {openai, "sk-openai"}, {custom, "sk-custom"}};
        });
        server.handle("GET", "/ws/2/recording", [&](const Request&) {
            settings.change([&](SettingsSnapshot& s) { s.selectedProvider = c.to; });
            return Response(200, mbEmpty);
        });
        server.script("GET", "/v1/models", {{200, R"({"data":[]})"}}); // custom's availability
        server.script("POST", "/v1/messages", {{200, claudeText("1987")}});
        server.script("POST", "/v1/chat/completions", {{200, chatText("1987")}});
        EXPECT_EQ(service.lookup(file("Song"), settings.source()).year, 1987) << c.path;
        const auto asked = server.requests(c.path);
        EXPECT_EQ(asked.size(), 2u) << c.path; // the year and the genre
        for (const Request& r : asked) {
            EXPECT_EQ(r.header(c.keyHeader), c.key);
            EXPECT_EQ(
                QJsonDocument::fromJson(QByteArray::fromStdString(r.body))["model"].toString().toStdString(),
                c.model);
        }
    }
}
