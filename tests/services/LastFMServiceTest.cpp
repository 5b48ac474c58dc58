#include "services/LastFMService.h"

#include "LookupScenario.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace LookupScenario;

namespace {

const std::string synthpop = lastFMArtistTags(R"({"name":"Synthpop"})");

struct TagCase {
    const char* name;
    Response track;
    Response artist;
    std::optional<QString> expected;
    std::size_t artistRequests;
};
const TagCase tagCases[] = {
    {"first tag vetoes the track", {200, lastFMTrackTags(R"({"name":"Seen Live"},{"name":"Rock"})")}, {200, synthpop}, "Synthpop", 1},
    {"veto only on the first tag", {200, lastFMTrackTags(R"({"name":"Rock"},{"name":"Seen Live"})")}, {200, synthpop}, "Rock", 0},
    {"ignored names skipped", {200, lastFMTrackTags(R"({"name":"Awesome"},{"name":"Chill"},{"name":"Synthpop"})")}, {200, "{}"}, "Synthpop", 0},
    {"first tag without a name", {200, lastFMTrackTags(R"({"count":5},{"name":"Rock"})")}, {200, lastFMArtistTags(R"({"name":"love"},{"name":"New Wave"})")}, "New Wave", 1},
    {"empty tags", {200, lastFMTrackTags("")}, {200, lastFMArtistTags("")}, {}, 1},
    {"unknown track", {200, R"({"error":6,"message":"Track not found"})"}, {200, synthpop}, "Synthpop", 1},
    {"error status with a tag list", {500, lastFMTrackTags(R"({"name":"Rock"})")}, {404, synthpop}, {}, 1},
};

} // namespace

using LastFMServiceGenreTest = ::testing::TestWithParam<TagCase>;

TEST_P(LastFMServiceGenreTest, TrackTagsThenArtistTags) {
    const TagCase& c = GetParam();
    LoopbackServer server;
    server.handle("GET", "/2.0/", [&](const LoopbackServer::Request& r) { return r.query("method") == "track.getInfo" ? c.track : c.artist; });
    EXPECT_EQ(LastFMService(server.endpoints()).lookupGenre("T", "A", "key"), c.expected) << c.name;
    EXPECT_EQ(server.requests().size(), 1 + c.artistRequests) << c.name;
}
INSTANTIATE_TEST_SUITE_P(, LastFMServiceGenreTest, ::testing::ValuesIn(tagCases), RowName());
