#include "tagio/MP4Handler.h"

#include "Mp4Bytes.h"
#include "TagProbe.h"
#include "TestFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Mp4Bytes;

namespace {

class MP4HandlerTest : public ::testing::Test {
protected:
    QString put(const QByteArray& bytes) {
        TestFiles::writeFile(dir.filePath("t.m4a"), bytes);
        return dir.filePath("t.m4a");
    }
    std::optional<QString> genreOf(const QByteArray& bytes) { return handler.readGenre(put(bytes)); }

    QTemporaryDir dir;
    MP4Handler handler{TagProbe::id3v1GenreNames()};
};

} // namespace

TEST_F(MP4HandlerTest, ItemsGiveTheFirstUsableGenreAndYear) {
    const struct {
        QByteArray items;
        std::optional<QString> genre;
    } genres[] = {
        {textItem(kGen, "\xFF\xFE") + genreNumberItem(5), "Disco"}, // invalid UTF-8: the number is used
        {atom(kGen, atom("junk", "x")) + textItem(kGen, "Pop") + genreNumberItem(18), "Rock"},
        {textItem(kGen, "Pop") + textItem(kGen, "Rock"), "Pop"},
        {genreNumberItem(1), "Blues"},
        {genreNumberItem(80), "Hard Rock"},
        {genreNumberItem(0), {}},
        {genreNumberItem(81), {}},
        {atom("gnre", atom("data", u32(0) + u32(0))), {}}, // too short for the number
    };
    for (const auto& c : genres) {
        EXPECT_EQ(genreOf(fileWithItems(c.items)), c.genre) << c.items.toHex().toStdString();
    }
    const struct {
        const char* day;
        std::optional<int> year;
    } years[] = {{"2023", 2023}, {"Live 1987", 1987}, {"1899", {}}, {"87", {}}};
    for (const auto& c : years) {
        EXPECT_EQ(handler.readYear(put(fileWithItems(textItem(kDay, c.day)))), c.year) << c.day;
    }
}

TEST_F(MP4HandlerTest, ParserSkipsDamageAndHonoursSizeForms) {
    // Sizes 2..7 are no atom: the parser steps on by one byte.
    EXPECT_TRUE(MP4Handler::parseAtoms(u32(7) + QByteArray("abcd"), 0, 8).isEmpty());
    const QByteArray afterJunk = u32(7) + QByteArray("abcd") + QByteArray(3, '\0') + atom("free", "");
    EXPECT_GT(MP4Handler::parseAtoms(afterJunk, 0, afterJunk.size()).value(0).start, 0);
    // A child of size 0 takes the rest of its container; a top-level moov of size 0 the rest of the file.
    const QByteArray zeroChild = atom("moov", atom("mvhd", "x") + u32(0) + "udta" + QByteArray(12, 'y'));
    const auto moov = MP4Handler::parseAtoms(zeroChild, 0, zeroChild.size());
    ASSERT_EQ(moov.first().children.size(), 2);
    EXPECT_EQ(moov.first().children[1].end, zeroChild.size());
    QByteArray toEnd = fileWithItems(textItem(kGen, "End"));
    toEnd.replace(ftyp().size(), 4, u32(0));
    EXPECT_EQ(genreOf(toEnd), QStringLiteral("End"));
    // 64-bit sizes: children start 16 bytes in (20 for meta).
    EXPECT_EQ(genreOf(ftyp() + atom64("moov", atom64("udta", atom64("meta", u32(0) + atom64("ilst", textItem(kGen, "Wide")))))),
              QStringLiteral("Wide"));
    // A size past the end is clamped, a 64-bit size of 2^63 and more too.
    const QByteArray huge = u32(1) + QByteArray("free") + u32(0xFFFFFFFF) + u32(0xFFFFFFF0) + QByteArray(40, 'x');
    const auto clamped = MP4Handler::parseAtoms(huge, 0, huge.size());
    ASSERT_EQ(clamped.size(), 1);
    EXPECT_EQ(clamped[0].end, huge.size());
    EXPECT_TRUE(clamped[0].clamped);
    // A truncated data atom gives no value rather than a read past the item.
    const QByteArray cut = fileWithItems(textItem(kGen, "Truncated"));
    EXPECT_EQ(genreOf(cut.chopped(3)), std::nullopt);
}
