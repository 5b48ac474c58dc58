#include "services/QueryTextCleaning.h"

#include <gtest/gtest.h>

#include <optional>

TEST(QueryTextCleaningTest, StripBPMSuffix) {
    const QList<QPair<QString, QString>> cases = {
        {"Song (128 BPM)", "Song"},
        {"Song [125]", "Song"},
        {"Song ( 98 bpm )", "Song"},
        {"Song 128bpm", "Song"},
        {"Song 128 BPM", "Song"},
        {"Song 128", "Song"},
        {"Summer of 69", "Summer of"},
        {"Song 260", "Song"},
        {"Song 59", "Song 59"},
        {"Song 261", "Song 261"},
        {"Song 2", "Song 2"},
        {"Song (1280)", "Song (1280)"},
        {"Song 128 BPM (128)", "Song 128 BPM"}, // the first pattern that leaves text wins, once
        {"(128)", "(128)"},                     // the cut would leave nothing
        {"  Song\t", "Song"},
        {"\u00a0Song 128\u2003", "Song"}, // Unicode space separators count as blanks
        {"Song\n128", "Song"},            // \s covers the line break inside
        {"", ""},
    };
    for (const auto& [title, expected] : cases) {
        EXPECT_EQ(stripBPMSuffix(title).toStdString(), expected.toStdString()) << title.toStdString();
    }
}

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
