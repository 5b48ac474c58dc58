#include "model/MusicFile.h"

#include "QtPrinters.h"
#include "TestHelpers.h"
#include "model/DecadeRule.h"

#include <gtest/gtest.h>

TEST(MusicFileTest, AlreadyHasDecadeNeedsATagYearOrOtherGenreText) {
    const QList<DecadeRule> blankAnd90{{QUuid::createUuid(), 1980, 1989, ""}, {QUuid::createUuid(), 1990, 1999, "90er"}};
    const struct {
        const char* genre;
        std::optional<int> tagYear;
        std::optional<int> discovered;
        bool done;
        QList<DecadeRule> rules = defaultDecadeRules();
    } cases[] = {
        {"House 80er", {}, {}, true},   {"80er", {}, {}, false},      {" 80er\t", {}, {}, false},
        {"80er", 1984, {}, true},       {"80er", {}, 1984, false},    {"House 80ER", {}, {}, false},
        {"", {}, {}, false},            {"80er 90er", {}, {}, false}, {"House", 1985, {}, false, blankAnd90},
        {"90er", {}, {}, false, blankAnd90}, {"Pop 90er", {}, {}, true, blankAnd90},
    };
    for (const auto& c : cases) {
        MusicFile file = musicFile("Title", "Artist", c.tagYear, c.genre);
        file.discoveredYear = c.discovered;
        EXPECT_EQ(file.alreadyHasDecade(c.rules), c.done) << c.genre;
    }
}
