#include "tagio/GenreNames.h"

#include <QMap>

#include <taglib/id3v1genres.h>

#include <gtest/gtest.h>

namespace {

using Item = MediaAsset::Item;

Item common(const QString& key, std::optional<QString> text) {
    Item item;
    item.commonKey = key;
    item.keySpace = MediaAsset::keySpaceID3;
    item.stringValue = std::move(text);
    return item;
}

Item keyed(const QString& space, const QString& key, std::optional<QString> text,
           std::optional<qint64> number = std::nullopt) {
    Item item;
    item.keySpace = space;
    item.key = key;
    item.stringValue = std::move(text);
    item.numberValue = number;
    return item;
}

Item type(std::optional<QString> text) {
    return common(MediaAsset::commonKeyType, std::move(text));
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
Item userGenre(const QString& key, std::optional<QString> text) {
    return keyed(MediaAsset::keySpaceISOUserData, key, std::move(text));
}

QString resolve(const QList<Item>& commonItems, const QList<Item>& metadataItems) {
    return resolveGenre(commonItems, metadataItems, extendedGenreNames());
}

} // namespace

TEST(GenreNames, NumberLookupIsZeroBasedAndBounded) {
    const QStringList& names = extendedGenreNames();
    EXPECT_EQ(genreNameForNumber(0, names), QStringLiteral("Blues"));
    EXPECT_EQ(genreNameForNumber(191, names), QStringLiteral("Psybient"));
    EXPECT_EQ(genreNameForNumber(192, names), std::nullopt);
    EXPECT_EQ(genreNameForNumber(-1, names), std::nullopt);
    EXPECT_EQ(genreNameForNumber(80, id3v1GenreNames()), std::nullopt);
}

TEST(GenreNames, NormalizeReplacesEveryReference) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"Deep House", "Deep House"},
        {"  (17)  ", "Rock"},
        {"(0)", "Blues"},
        {"(191)", "Psybient"},
        {"(192)", ""},
        {"(99999999999999999999999)", ""},
        {"(17) (18)", "Rock Techno"},
        {"(17)(18)", "RockTechno"},
        {"Best (17) ever", "Best Rock ever"},
        {"(abc)", "(abc)"},
        {"Rock", "Rock"},
        {"\n(13)\t", "Pop"},
        {"(192) House", "House"},
        {"((17))", "(Rock)"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalizeGenre(QString::fromUtf8(c.in), extendedGenreNames()), QString::fromUtf8(c.out))
            << c.in;
    }
}

TEST(GenreNames, ResolveTakesTheSourcesInOrder) {
    const struct {
        const char* name;
        QList<Item> common;
        QList<Item> metadata;
        const char* genre;
    } cases[] = {
        {"common type wins", {type("Deep House")}, {tcon("Pop"), gen("Jazz")}, "Deep House"},
        {"common type reference", {type(" (17) ")}, {}, "Rock"},
        {"empty common type, then TCON", {type("")}, {tcon("(13)")}, "Pop"},
        {"missing value passes on", {type(std::nullopt)}, {tcon("Funk")}, "Funk"},
        {"unnamed reference counts as empty",
         {type("(192)")},
         {tcon("(999999999999999999999)"), gen("Soul")},
         "Soul"},
        {"second TCON after an empty one", {}, {tcon("(500)"), tcon("Techno")}, "Techno"},
        {"at-sign form of ©gen", {}, {keyed(MediaAsset::keySpaceiTunes, "@\u00A9gen", "Disco")}, "Disco"},
        {"gnre number 18", {}, {gnre(std::nullopt, 18)}, "Rock"},
        {"gnre number 1", {}, {gnre(std::nullopt, 1)}, "Blues"},
        {"gnre number 192", {}, {gnre(std::nullopt, 192)}, "Psybient"},
        {"gnre 0 then next gnre", {}, {gnre(std::nullopt, 0), gnre(std::nullopt, 5)}, "Disco"},
        {"gnre 193 then user data", {}, {gnre(std::nullopt, 193), userGenre("GENRE", "Ska")}, "Ska"},
        {"gnre text (999) ends the search", {}, {gnre("(999)", 18), userGenre("GENRE", "Ska")}, ""},
        {"gnre text is normalised", {}, {gnre("(35)", std::nullopt)}, "House"},
        {"lower-case user-data key", {}, {userGenre("genre", "Lounge")}, "Lounge"},
        {"user data (999) ends with nothing",
         {},
         {userGenre("GENRE", "(999)"), userGenre("GENRE", "Ska")},
         ""},
        {"empty user data passes on", {}, {userGenre("GENRE", ""), userGenre("Genre", "Ska")}, "Ska"},
        {"TCON key in the wrong key space", {}, {keyed(MediaAsset::keySpaceVorbis, "TCON", "Pop")}, ""},
        {"keys are case-sensitive", {}, {keyed(MediaAsset::keySpaceID3, "tcon", "Pop")}, ""},
        {"item without key space",
         {},
         {Item{std::nullopt, std::nullopt, QString("TCON"), QString("Pop"), {}}},
         ""},
        {"nothing at all", {}, {}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(resolve(c.common, c.metadata), QString::fromUtf8(c.genre)) << c.name;
    }
}
