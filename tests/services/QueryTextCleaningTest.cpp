#include "services/QueryTextCleaning.h"

#include <gtest/gtest.h>

#include <optional>

TEST(QueryTextCleaningTest, StripVersionSuffix) {
    const QList<QPair<QString, std::optional<QString>>> cases = {
        {"Song (Radio Edit)", "Song"},
        {"Song (RADIO EDIT)", "Song"},
        {"Song (Live) [Remastered]", "Song"},
        {"Song [Remastered] (Live)", "Song"},
        {"Song (Album)", std::nullopt},
        {"Song (Part 2)", std::nullopt},
        {"Song (Part 2) (Live)", "Song (Part 2)"},
        {"Song - Radio Edit (Remastered)", "Song"},
        {"A - B - Live Mix", "A"},
        {"Song - Artist Name", std::nullopt},
        {"Song-Live Mix", std::nullopt},
        {"(Live)", std::nullopt},
        {"Song (Alive)", "Song"},
        {"Song (Tender Love Mix)", "Song"},
        {"Song (feat. X)", "Song"},
        {"Song (12\" Mix)", "Song"},
        {"  Song (Live)  ", "Song"},
        {"Song", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [title, expected] : cases) {
        const std::optional<QString> got = stripVersionSuffix(title);
        EXPECT_EQ(got.has_value(), expected.has_value()) << title.toStdString();
        if (got && expected) {
            EXPECT_EQ(got->toStdString(), expected->toStdString()) << title.toStdString();
        }
    }
}

TEST(QueryTextCleaningTest, KeywordTable) {
    const QStringList& keywords = versionKeywords();
    ASSERT_EQ(keywords.size(), 92);
    EXPECT_EQ(keywords.front(), "radio edit");
    EXPECT_EQ(keywords[46], "12\" mix");
    EXPECT_EQ(keywords[47], "7\" mix");
    EXPECT_EQ(keywords.back(), "mix");
    for (const QString& k : keywords) {
        EXPECT_EQ(k, k.toLower());
    }
    EXPECT_TRUE(containsVersionKeyword("the vip room"));
    EXPECT_FALSE(containsVersionKeyword("RADIO EDIT")); // the caller lower-cases
    EXPECT_FALSE(containsVersionKeyword("part two"));
}
