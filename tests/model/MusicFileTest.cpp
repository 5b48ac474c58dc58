#include "model/MusicFile.h"

#include "TestHelpers.h"

#include <gtest/gtest.h>

TEST(MusicFile, EffectiveYearTakesManualThenDiscoveredThenTag) {
    MusicFile file = musicFile("Title", "Artist", std::nullopt, "House");
    EXPECT_EQ(file.effectiveYear(), -1);
    EXPECT_FALSE(file.decadeLabel().has_value());
    file.year = 1985;
    file.discoveredYear = 1987;
    EXPECT_EQ(file.effectiveYear(), 1987);
    file.manualYear = 1990;
    EXPECT_EQ(file.decadeLabel(), QStringLiteral("90er"));
}

TEST(MusicFile, AlreadyHasDecadeNeedsATagYearOrOtherGenreText) {
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
