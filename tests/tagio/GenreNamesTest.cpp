#include "tagio/GenreNames.h"

#include <gtest/gtest.h>

using Item = MediaAsset::Item;

TEST(GenreNames, NumbersAndReferencesAreBounded) {
    const QStringList& names = extendedGenreNames();
    EXPECT_EQ(genreNameForNumber(0, names), QStringLiteral("Blues"));
    EXPECT_EQ(genreNameForNumber(191, names), QStringLiteral("Psybient"));
    EXPECT_EQ(genreNameForNumber(192, names), std::nullopt);
    EXPECT_EQ(genreNameForNumber(-1, names), std::nullopt);
    EXPECT_EQ(genreNameForNumber(80, id3v1GenreNames()), std::nullopt);
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"  (17)  ", "Rock"}, {"(192)", ""}, {"(99999999999999999999999)", ""}, {"(17) (18)", "Rock Techno"},
        {"(17)(18)", "RockTechno"}, {"Best (17) ever", "Best Rock ever"}, {"(abc)", "(abc)"},
        {"\n(13)\t", "Pop"}, {"(192) House", "House"}, {"((17))", "(Rock)"}, {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalizeGenre(QString::fromUtf8(c.in), names), QString::fromUtf8(c.out)) << c.in;
    }
}

TEST(GenreNames, ResolveTakesTheSourcesInOrder) {
    using Text = std::optional<QString>;
    const QString id3 = MediaAsset::keySpaceID3, iTunes = MediaAsset::keySpaceiTunes;
    const QString mp4User = MediaAsset::keySpaceISOUserData;
    const auto type = [&](Text text) { return Item{MediaAsset::commonKeyType, id3, {}, text, {}}; };
    const auto tcon = [&](Text text) { return Item{{}, id3, "TCON", text, {}}; };
    const auto gen = [&](Text text) { return Item{{}, iTunes, "\u00A9gen", text, {}}; };
    const auto gnre = [&](Text text, qint64 n) { return Item{{}, iTunes, "gnre", text, n}; };
    const auto user = [&](QString key, Text text) { return Item{{}, mp4User, key, text, {}}; };
    const struct {
        QList<Item> common;
        QList<Item> metadata;
        const char* genre;
    } cases[] = {
        {{type("Deep House")}, {tcon("Pop"), gen("Jazz")}, "Deep House"},
        {{type("")}, {tcon("(13)")}, "Pop"},
        {{type(std::nullopt)}, {tcon("Funk")}, "Funk"},
        {{type("(192)")}, {tcon("(999999999999999999999)"), gen("Soul")}, "Soul"},
        {{}, {tcon("(500)"), tcon("Techno")}, "Techno"},
        {{}, {Item{{}, iTunes, "@\u00A9gen", "Disco", {}}}, "Disco"},
        {{}, {gnre(std::nullopt, 18)}, "Rock"},
        {{}, {gnre(std::nullopt, 0), gnre(std::nullopt, 5)}, "Disco"},
        {{}, {gnre(std::nullopt, 193), user("GENRE", "Ska")}, "Ska"},
        {{}, {gnre("(999)", 18), user("GENRE", "Ska")}, ""},
        {{}, {user("genre", "Lounge")}, "Lounge"},
        {{}, {user("GENRE", "(999)"), user("GENRE", "Ska")}, ""},
        {{}, {Item{{}, MediaAsset::keySpaceVorbis, "TCON", "Pop", {}}}, ""},
        {{}, {Item{{}, {}, "TCON", "Pop", {}}}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(resolveGenre(c.common, c.metadata, extendedGenreNames()), QString::fromUtf8(c.genre))
            << &c - cases;
    }
}
