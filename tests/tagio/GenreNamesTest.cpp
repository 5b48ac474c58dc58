#include "tagio/GenreNames.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

TEST(GenreNamesTest, NumbersAndReferencesAreBounded) {
    const QStringList& names = extendedGenreNames();
    EXPECT_EQ(genreNameForNumber(-1, names), std::nullopt);
    EXPECT_EQ(genreNameForNumber(80, id3v1GenreNames()), std::nullopt);
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"(0)", "Blues"}, {"(191)", "Psybient"}, {"(192)", ""}, {"(99999999999999999999999)", ""},
        {"  (17)  ", "Rock"}, {"(17) (18)", "Rock Techno"}, {"(17)(18)", "RockTechno"},
        {"Best (17) ever", "Best Rock ever"}, {"(abc)", "(abc)"}, {"\n(13)\t", "Pop"},
        {"(192) House", "House"}, {"((17))", "(Rock)"}, {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalizeGenre(QString::fromUtf8(c.in), names), QString::fromUtf8(c.out)) << c.in;
    }
}
