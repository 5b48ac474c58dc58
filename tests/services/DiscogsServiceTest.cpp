#include "services/DiscogsService.h"

#include "LookupScenario.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace LookupScenario;

namespace {

struct GenreCase {
    const char* name;
    std::string search;
    std::vector<Response> release;
    std::optional<QString> genre;
    size_t releaseRequests;
};
const GenreCase genreCases[] = {
    {"no hits", R"({"results":[]})", {}, {}, 0},
    {"release genres", R"({"results":[{"id":123,"style":["Hit"]}]})", {{200, R"({"styles":[],"genres":["Electronic"]})"}}, "Electronic", 1},
    {"id not a number", R"({"results":[{"id":"123","style":["Synth-pop"],"genre":["Pop"]}]})", {}, "Synth-pop", 0},
    {"release empty", R"({"results":[{"id":123,"style":["New Wave"]}]})", {{200, R"({"styles":[],"genres":[]})"}}, "New Wave", 1},
    {"first hit unusable", R"({"results":[{"id":1.5,"style":[]},{"style":["Disco"]}]})", {}, {}, 0},
    {"huge id", R"({"results":[{"id":1e300,"style":["Disco"]}]})", {}, "Disco", 0},
};

} // namespace

using DiscogsServiceGenreTest = ::testing::TestWithParam<GenreCase>;

TEST_P(DiscogsServiceGenreTest, GenreFromTheReleaseThenFromTheFirstHit) {
    const GenreCase& c = GetParam();
    LoopbackServer server;
    server.script("GET", "/database/search", {{200, c.search}});
    server.script("GET", "/releases/123", c.release);
    EXPECT_EQ(DiscogsService(server.endpoints(), {"k", "s"}).lookupGenre("T", "A"), c.genre) << c.name;
    EXPECT_EQ(server.requests().size(), 1 + c.releaseRequests) << c.name;
}
INSTANTIATE_TEST_SUITE_P(, DiscogsServiceGenreTest, ::testing::ValuesIn(genreCases), RowName());
