#include "tagio/GenreNames.h"

#include <gtest/gtest.h>

namespace {

using Item = MediaAsset::Item;

Item keyed(const QString& space, const QString& key, std::optional<QString> text, std::optional<qint64> number = {}) {
    Item item;
    item.keySpace = space;
    item.key = key;
    item.stringValue = std::move(text);
    item.numberValue = number;
    return item;
}
Item type(std::optional<QString> text) {
    Item item;
    item.commonKey = MediaAsset::commonKeyType;
    item.keySpace = MediaAsset::keySpaceID3;
    item.stringValue = std::move(text);
    return item;
}
Item tcon(std::optional<QString> text) {
    return keyed(MediaAsset::keySpaceID3, QStringLiteral("TCON"), std::move(text));
}
Item gen(std::optional<QString> text) {
    return keyed(MediaAsset::keySpaceiTunes, QStringLiteral("\u00A9gen"), std::move(text));
}
Item gnre(std::optional<QString> text, std::optional<qint64> number) {
    return keyed(MediaAsset::keySpaceiTunes, QStringLiteral("gnre"), std::move(text), number);
}
Item user(const QString& key, std::optional<QString> text) {
    return keyed(MediaAsset::keySpaceISOUserData, key, std::move(text));
}

} // namespace

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
        {"  (17)  ", "Rock"},    {"(192)", ""},       {"(99999999999999999999999)", ""}, {"(17) (18)", "Rock Techno"},
        {"(17)(18)", "RockTechno"}, {"Best (17) ever", "Best Rock ever"}, {"(abc)", "(abc)"}, {"\n(13)\t", "Pop"},
        {"(192) House", "House"}, {"((17))", "(Rock)"}, {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalizeGenre(QString::fromUtf8(c.in), names), QString::fromUtf8(c.out)) << c.in;
    }
}

TEST(GenreNames, ResolveTakesTheSourcesInOrder) {
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
        {{}, {keyed(MediaAsset::keySpaceiTunes, "@\u00A9gen", "Disco")}, "Disco"},
        {{}, {gnre(std::nullopt, 18)}, "Rock"},
        {{}, {gnre(std::nullopt, 0), gnre(std::nullopt, 5)}, "Disco"},
        {{}, {gnre(std::nullopt, 193), user("GENRE", "Ska")}, "Ska"},
        {{}, {gnre("(999)", 18), user("GENRE", "Ska")}, ""},
        {{}, {user("genre", "Lounge")}, "Lounge"},
        {{}, {user("GENRE", "(999)"), user("GENRE", "Ska")}, ""},
        {{}, {keyed(MediaAsset::keySpaceVorbis, "TCON", "Pop")}, ""},
        {{}, {Item{std::nullopt, std::nullopt, QString("TCON"), QString("Pop"), {}}}, ""},
    };
    int row = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(resolveGenre(c.common, c.metadata, extendedGenreNames()), QString::fromUtf8(c.genre)) << "row " << row++;
    }
}
