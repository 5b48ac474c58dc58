#include "tagio/MP4Handler.h"

#include "Mp4Bytes.h"
#include "Mp4Check.h"
#include "TestFiles.h"
#include "model/AppError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Reading: fixtures made by ffmpeg and small hand-built byte images.

using namespace Mp4Bytes;

namespace {

class MP4HandlerTest : public ::testing::Test {
protected:
    QString put(const QByteArray& bytes, const QString& name = QStringLiteral("t.m4a")) {
        const QString path = dir.filePath(name);
        TestFiles::writeFile(path, bytes);
        return path;
    }
    std::optional<QString> genreOf(const QByteArray& bytes) { return handler.readGenre(put(bytes)); }
    std::optional<int> yearOf(const QByteArray& bytes) { return handler.readYear(put(bytes)); }

    QTemporaryDir dir;
    MP4Handler handler{Mp4Check::id3v1GenreNames()};
};

} // namespace

TEST_F(MP4HandlerTest, ReadsGenreAndYearFromEncoderFiles) {
    auto genre = [&](const char* name) {
        return handler.readGenre(TestFiles::fixturePath(QStringLiteral("mp4/") + name));
    };
    auto year = [&](const char* name) {
        return handler.readYear(TestFiles::fixturePath(QStringLiteral("mp4/") + name));
    };
    EXPECT_EQ(genre("faststart.m4a"), QStringLiteral("Deep House"));
    EXPECT_EQ(year("faststart.m4a"), 1987); // stored as 1987-06-01T07:00:00Z
    EXPECT_EQ(genre("tail.m4a"), QStringLiteral("House"));
    EXPECT_EQ(year("tail.m4a"), 2001);
    EXPECT_EQ(genre("gnre.m4a"), QStringLiteral("Disco"));
    EXPECT_EQ(genre("cover.m4a"), QStringLiteral("Techno"));
    EXPECT_EQ(genre("co64.m4a"), QStringLiteral("Deep House"));
    EXPECT_EQ(genre("wide_sizes.m4a"), QStringLiteral("Deep House"));
    EXPECT_EQ(genre("free_absorb.m4a"), QStringLiteral("Rock"));
    EXPECT_EQ(genre("plain.m4a"), std::nullopt);
    EXPECT_EQ(year("plain.m4a"), std::nullopt);
    EXPECT_EQ(genre("no_udta_tail.m4a"), std::nullopt);
    EXPECT_EQ(genre("qtmeta.m4a"), std::nullopt);
}

TEST_F(MP4HandlerTest, GenreFallsBackToNumberOnlyWhenFirstTextItemIsUnusable) {
    // Invalid UTF-8 in the first ©gen: the number is used.
    EXPECT_EQ(genreOf(fileWithItems(textItem(kGen, "\xFF\xFE") + genreNumberItem(5))),
              QStringLiteral("Disco"));
    // A first ©gen without a data atom: the second ©gen is not tried, gnre is.
    EXPECT_EQ(
        genreOf(fileWithItems(atom(kGen, atom("junk", "x")) + textItem(kGen, "Pop") + genreNumberItem(18))),
        QStringLiteral("Rock"));
    EXPECT_EQ(genreOf(fileWithItems(textItem(kGen, "Pop") + textItem(kGen, "Rock"))), QStringLiteral("Pop"));
    EXPECT_EQ(genreOf(fileWithItems(genreNumberItem(1))), QStringLiteral("Blues"));
    EXPECT_EQ(genreOf(fileWithItems(genreNumberItem(80))), QStringLiteral("Hard Rock"));
    EXPECT_EQ(genreOf(fileWithItems(genreNumberItem(0))), std::nullopt);
    EXPECT_EQ(genreOf(fileWithItems(genreNumberItem(81))), std::nullopt);
    // A data atom too short for the number is stepped over.
    EXPECT_EQ(genreOf(fileWithItems(atom("gnre", atom("data", u32(0) + u32(0))))), std::nullopt);
}

TEST_F(MP4HandlerTest, YearComesFromFirstPlausibleYearInDateItem) {
    EXPECT_EQ(yearOf(fileWithItems(textItem(kDay, "2023"))), 2023);
    EXPECT_EQ(yearOf(fileWithItems(textItem(kDay, "Live 1987"))), 1987);
    EXPECT_EQ(yearOf(fileWithItems(textItem(kDay, "1899"))), std::nullopt);
    EXPECT_EQ(yearOf(fileWithItems(textItem(kDay, "87"))), std::nullopt);
    EXPECT_EQ(yearOf(fileWithItems(textItem(kGen, "Rock"))), std::nullopt);
}

TEST_F(MP4HandlerTest, ParserSkipsDamageAndHonoursSizeForms) {
    // Sizes 2..7 are no atom: the parser steps on by one byte.
    EXPECT_TRUE(MP4Handler::parseAtoms(u32(7) + QByteArray("abcd"), 0, 8).isEmpty());
    const QByteArray afterJunk = u32(7) + QByteArray("abcd") + QByteArray(3, '\0') + atom("free", "");
    const auto stepped = MP4Handler::parseAtoms(afterJunk, 0, afterJunk.size());
    ASSERT_FALSE(stepped.isEmpty());
    EXPECT_GT(stepped.first().start, 0);
    // A child with size 0 takes the rest of its container.
    const QByteArray zeroChild = atom("moov", atom("mvhd", "x") + u32(0) + "udta" + QByteArray(12, 'y'));
    const auto moov = MP4Handler::parseAtoms(zeroChild, 0, zeroChild.size());
    ASSERT_EQ(moov.first().children.size(), 2);
    EXPECT_EQ(moov.first().children[1].end, zeroChild.size());
    EXPECT_TRUE(moov.first().children[1].sizeToEnd);
    // A top-level moov with size 0 runs to the end of the file.
    QByteArray toEnd = ftyp() + atom("moov", atom("udta", fullMeta(atom("ilst", textItem(kGen, "End")))));
    toEnd.replace(ftyp().size(), 4, u32(0));
    EXPECT_EQ(genreOf(toEnd), QStringLiteral("End"));
    // 64-bit sizes: children start 16 bytes in (20 for meta).
    const QByteArray wide =
        ftyp() +
        atom64("moov", atom64("udta", atom64("meta", u32(0) + atom64("ilst", textItem(kGen, "Wide")))));
    EXPECT_EQ(genreOf(wide), QStringLiteral("Wide"));
    const auto top = MP4Handler::parseAtoms(wide, 0, wide.size());
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[1].headerLength, 16);
    EXPECT_EQ(top[1].children[0].children[0].children[0].type, QStringLiteral("ilst"));
    // A size past the end is clamped; a 64-bit size of 2^63 and more too.
    QByteArray huge = u32(1) + QByteArray("free") + u32(0xFFFFFFFF) + u32(0xFFFFFFF0) + QByteArray(40, 'x');
    const auto clamped = MP4Handler::parseAtoms(huge, 0, huge.size());
    ASSERT_EQ(clamped.size(), 1);
    EXPECT_EQ(clamped[0].end, huge.size());
    EXPECT_TRUE(clamped[0].clamped);
    // Truncated data atoms give no value rather than reading past the item.
    QByteArray cut = fileWithItems(textItem(kGen, "Truncated"));
    EXPECT_EQ(genreOf(cut.left(cut.size() - 3)), std::nullopt);
}

TEST_F(MP4HandlerTest, NestingDepthIsCapped) {
    QByteArray nested = atom("free", "");
    for (int i = 0; i < 3000; ++i) {
        nested = atom("skip", nested);
    }
    const auto atoms = MP4Handler::parseAtoms(nested, 0, nested.size());
    int depth = 0;
    const MP4Handler::Atom* a = &atoms.first();
    while (!a->children.isEmpty()) {
        a = &a->children.first();
        ++depth;
    }
    EXPECT_EQ(depth, MP4Handler::maxDepth - 1);
    EXPECT_EQ(genreOf(ftyp() + atom("moov", nested)), std::nullopt);
}
