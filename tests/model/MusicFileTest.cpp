#include "model/MusicFile.h"

#include "TestHelpers.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {

MusicFile row(const QString& genre, std::optional<int> year = std::nullopt) {
    return musicFile("Title", "Artist", year, genre);
}

} // namespace

TEST(MusicFile, EffectiveYearAndLabelTakeManualThenDiscoveredThenTag) {
    MusicFile file = row("House");
    EXPECT_EQ(file.effectiveYear(), -1);
    EXPECT_FALSE(file.decadeLabel().has_value());
    EXPECT_EQ(file.decadeSortKey(), QString());
    file.year = 1985;
    file.discoveredYear = 1987;
    EXPECT_EQ(file.effectiveYear(), 1987);
    EXPECT_EQ(file.decadeLabel(), QStringLiteral("80er"));
    file.manualYear = 1990;
    EXPECT_EQ(file.effectiveYear(), 1990);
    EXPECT_EQ(file.decadeSortKey(), QStringLiteral("90er"));
    EXPECT_EQ(file.directoryPath(), QStringLiteral("/music/Disco"));
}

TEST(MusicFile, AlreadyHasDecadeNeedsYearTagOrOtherGenreText) {
    EXPECT_TRUE(row("House 80er").alreadyHasDecade());
    EXPECT_FALSE(row("80er").alreadyHasDecade());
    EXPECT_FALSE(row(" 80er\t").alreadyHasDecade());
    EXPECT_TRUE(row("80er", 1984).alreadyHasDecade());
    EXPECT_FALSE(row("House 80ER").alreadyHasDecade());
    EXPECT_FALSE(row("").alreadyHasDecade());
    EXPECT_FALSE(row("80er 90er").alreadyHasDecade());
    MusicFile discoveredOnly = row("80er");
    discoveredOnly.discoveredYear = 1984; // only the tag year counts
    EXPECT_FALSE(discoveredOnly.alreadyHasDecade());
}

TEST(MusicFile, BlankRuleLabelsDoNotMarkEveryFileAsDone) {
    const QList<DecadeRule> rules{{QUuid::createUuid(), 1980, 1989, ""},
                                  {QUuid::createUuid(), 1990, 1999, " "}};
    EXPECT_FALSE(row("House", 1985).alreadyHasDecade(rules));
    const QList<DecadeRule> withReal{{QUuid::createUuid(), 1980, 1989, ""},
                                     {QUuid::createUuid(), 1990, 1999, "90er"}};
    EXPECT_FALSE(row("90er").alreadyHasDecade(withReal));
    EXPECT_TRUE(row("Pop 90er").alreadyHasDecade(withReal));
}
