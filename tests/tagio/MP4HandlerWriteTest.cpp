#include "tagio/MP4Handler.h"

#include "Mp4Bytes.h"
#include "Mp4Check.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/AppError.h"
#include "tagio/Bytes.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

// Writing. Every write of a real file is checked from the outside: decoded
// audio, the bytes of every chunk, ffprobe and TagLib.

namespace {

const QString kGen = QStringLiteral("\u00A9gen");
const QString kDay = QStringLiteral("\u00A9day");
const QString kNam = QStringLiteral("\u00A9nam");
const QString kArt = QStringLiteral("\u00A9ART");
const QByteArray& kGenB = Mp4Bytes::kGen;
const QByteArray& kDayB = Mp4Bytes::kDay;
const QByteArray& kArtB = Mp4Bytes::kArt;
using Mp4Bytes::atom;
using Mp4Bytes::ftyp;
using Mp4Bytes::textItem;
using Mp4Bytes::u32;

// The chunk offset of every chunk, all tracks in a row.
QList<quint64> offsets(const QByteArray& file) {
    QList<quint64> out;
    if (const auto tracks = Mp4Check::chunks(file)) {
        for (const auto& track : *tracks) {
            for (const auto& chunk : track) {
                out.append(chunk.offset);
            }
        }
    }
    return out;
}

qint64 startOf(const QByteArray& file, const QByteArray& type, int nth = 0) {
    for (const auto& a : Mp4Check::topLevel(file)) {
        if (a.type == type && nth-- == 0) {
            return a.start;
        }
    }
    return -1;
}

// Adds `add` to every stco entry of the file (for inputs built from a fixture).
void shiftStco(QByteArray& file, quint32 add) {
    for (qsizetype at = file.indexOf("stco"); at >= 0; at = file.indexOf("stco", at + 4)) {
        const qsizetype count = (quint8(file[at + 8]) << 24) | (quint8(file[at + 9]) << 16) |
                                (quint8(file[at + 10]) << 8) | quint8(file[at + 11]);
        for (qsizetype k = 0; k < count; ++k) {
            const qsizetype p = at + 12 + 4 * k;
            const quint32 v = (quint32(quint8(file[p])) << 24) | (quint32(quint8(file[p + 1])) << 16) |
                              (quint32(quint8(file[p + 2])) << 8) | quint32(quint8(file[p + 3]));
            file.replace(p, 4, u32(v + add));
        }
    }
}

class MP4HandlerWriteTest : public ::testing::Test {
protected:
    struct Result {
        QByteArray before;
        QByteArray after;
        QString path;
    };

    Result writeBytes(const QByteArray& before, const QString& genre, std::optional<int> year = {},
                      std::optional<QString> title = {}, std::optional<QString> artist = {}) {
        Result r;
        r.before = before;
        r.path = dir.filePath(QStringLiteral("written-%1.m4a").arg(++count));
        r.after = handler.writeGenre(genre, year, title, artist, r.before, r.path);
        TestFiles::writeFile(r.path, r.after);
        return r;
    }

    Result write(const QString& fixture, const QString& genre, std::optional<int> year = {},
                 std::optional<QString> title = {}, std::optional<QString> artist = {}) {
        return writeBytes(TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/") + fixture)),
                          genre, year, title, artist);
    }

    // What every write of a real file must keep: every chunk's bytes where the
    // tables say they are (an independent parse of the sample tables).
    void expectSound(const Result& r, const QString&) {
        EXPECT_EQ(Mp4Check::compareChunks(r.before, r.after), QString());
    }

    void expectTagLibGenre(const Result& r, const QString& genre) {
        EXPECT_EQ(Mp4Check::taglibItems(r.path).value(kGen), QStringList{genre});
        EXPECT_EQ(handler.readGenre(r.path), genre);
    }

    QString refusal(const QByteArray& bytes, std::optional<int> year = {}) {
        const auto e = expectThrows(AppError::Kind::tagWriteFailed, [&] {
            handler.writeGenre(QStringLiteral("Deep House 80er"), year, {}, {}, bytes,
                               QStringLiteral("x.m4a"));
        });
        return e ? e->text() : QString();
    }

    QTemporaryDir dir;
    MP4Handler handler{Mp4Check::id3v1GenreNames()};
    int count = 0;
};

} // namespace

TEST_F(MP4HandlerWriteTest, GrowingMovieBeforeMediaMovesMediaAndRepairsOffsets) {
    // Longer title and artist, shorter date ("1987-06-01T07:00:00Z" becomes "1987"): moov grows.
    const QString title = QStringLiteral("A considerably longer new title");
    const QString artist = QStringLiteral("K\u00FCnstler & Friends");
    const Result r =
        write(QStringLiteral("faststart.m4a"), QStringLiteral("Deep House 80er"), 1987, title, artist);
    expectSound(r, QStringLiteral("faststart.m4a"));
    const auto items = Mp4Check::taglibItems(r.path);
    EXPECT_EQ(items.value(kGen), QStringList{QStringLiteral("Deep House 80er")});
    EXPECT_EQ(items.value(kDay), QStringList{QStringLiteral("1987")});
    EXPECT_EQ(items.value(kNam), QStringList{title});
    EXPECT_EQ(items.value(kArt), QStringList{artist});
    EXPECT_EQ(handler.readYear(r.path), 1987);
    EXPECT_EQ(Mp4Check::itemTypes(r.after), Mp4Check::itemTypes(r.before)); // replaced in place

    const qint64 delta = r.after.size() - r.before.size();
    ASSERT_GT(delta, 0);
    EXPECT_EQ(startOf(r.after, "mdat"), startOf(r.before, "mdat") + delta);

    // Writing the same again changes nothing.
    const Result again = writeBytes(r.after, QStringLiteral("Deep House 80er"), 1987, title, artist);
    EXPECT_EQ(again.after, r.after);
}

TEST_F(MP4HandlerWriteTest, ShrinkingMovieIsAbsorbedByFollowingFreeAtom) {
    const Result r = write(QStringLiteral("faststart.m4a"), QStringLiteral("Dub"));
    expectSound(r, QStringLiteral("faststart.m4a"));
    expectTagLibGenre(r, QStringLiteral("Dub"));
    EXPECT_EQ(r.after.size(), r.before.size());
    EXPECT_EQ(offsets(r.after), offsets(r.before));
    // Title, artist and date are untouched when not given.
    EXPECT_EQ(Mp4Check::taglibItems(r.path).value(kNam), QStringList{QStringLiteral("Fixture Title")});
    EXPECT_EQ(handler.readYear(r.path), 1987);
}

TEST_F(MP4HandlerWriteTest, MissingUserDataIsCreatedWithHandler) {
    for (const QString& fixture : {QStringLiteral("no_udta_faststart.m4a"),
                                   QStringLiteral("no_udta_tail.m4a"), QStringLiteral("plain.m4a")}) {
        SCOPED_TRACE(fixture.toStdString());
        const Result r = write(fixture, QStringLiteral("Ambient"), 1994, QStringLiteral("Title"));
        expectSound(r, fixture);
        expectTagLibGenre(r, QStringLiteral("Ambient"));
        EXPECT_EQ(Mp4Check::taglibItems(r.path).value(kNam), QStringList{QStringLiteral("Title")});
        const auto meta = Mp4Check::atomPayload(r.after, {"moov", "udta", "meta"});
        ASSERT_TRUE(meta.has_value());
        EXPECT_EQ(meta->mid(8, 4), QByteArray("hdlr"));
        EXPECT_EQ(meta->mid(20, 4), QByteArray("mdir"));
    }
}

TEST_F(MP4HandlerWriteTest, CoverArtAndOtherItemsSurvive) {
    const Result r = write(QStringLiteral("cover.m4a"), QStringLiteral("Techno 00er"), 2001);
    expectSound(r, QStringLiteral("cover.m4a"));
    expectTagLibGenre(r, QStringLiteral("Techno 00er"));
    const qsizetype covr = r.before.indexOf("covr") - 4;
    ASSERT_GT(covr, 0);
    const QByteArray cover = r.before.mid(covr, Bytes::u32BE(r.before, covr));
    EXPECT_TRUE(r.after.contains(cover));
}

TEST_F(MP4HandlerWriteTest, SixtyFourBitOffsetsAndSizesAreRepaired) {
    const Result co64 = write(QStringLiteral("co64.m4a"), QStringLiteral("Deep House 80er"));
    expectSound(co64, QStringLiteral("faststart.m4a"));
    expectTagLibGenre(co64, QStringLiteral("Deep House 80er"));

    const Result wide = write(QStringLiteral("wide_sizes.m4a"), QStringLiteral("Deep House 80er"), 1987);
    expectSound(wide, QStringLiteral("faststart.m4a"));
    expectTagLibGenre(wide, QStringLiteral("Deep House 80er"));
}

TEST_F(MP4HandlerWriteTest, MediaBeforeMovieKeepsItsOffsets) {
    const Result r = write(QStringLiteral("mixed.m4a"), QStringLiteral("Electro 80er"), 1983);
    expectSound(r, QStringLiteral("tail.m4a"));
    expectTagLibGenre(r, QStringLiteral("Electro 80er"));
    const qint64 moovStart = startOf(r.before, "moov");
    const auto before = offsets(r.before);
    const auto after = offsets(r.after);
    ASSERT_EQ(before.size(), after.size());
    int kept = 0;
    for (qsizetype i = 0; i < before.size(); ++i) {
        if (qint64(before[i]) < moovStart) {
            EXPECT_EQ(after[i], before[i]);
            ++kept;
        }
    }
    EXPECT_GT(kept, 0);
}

TEST_F(MP4HandlerWriteTest, FragmentedFileIsRefusedWhenMediaWouldMove) {
    const QByteArray bytes =
        TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/fragmented.m4a")));
    refusal(bytes, 1999);
}

TEST_F(MP4HandlerWriteTest, UnverifiableMoveIsRefused) {
    // Four zero bytes after moov read as a size-0 atom that swallows the mdat:
    // the media would move while no table is repaired, so the write is refused.
    QByteArray bytes = TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/faststart.m4a")));
    const qint64 freeAt = startOf(bytes, "free");
    bytes.insert(freeAt, QByteArray(4, '\0'));
    shiftStco(bytes, 4);
    EXPECT_EQ(refusal(bytes, 1987), QStringLiteral("Chunk offsets no longer match the media data"));
}

TEST_F(MP4HandlerWriteTest, DamagedOrUnrepairableTablesAreRefused) {
    const QByteArray good = TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/faststart.m4a")));
    const auto refuse = [&](const QByteArray& bytes) {
        return refusal(bytes);
    };
    const qsizetype stco = good.indexOf("stco");
    ASSERT_GT(stco, 0);
    QByteArray overflow = good;
    overflow.replace(stco + 12, 4, u32(0xFFFFFFFE));
    EXPECT_EQ(refuse(overflow), QStringLiteral("A chunk offset would exceed its 32-bit field"));

    QByteArray overlong = good;
    overlong.replace(stco + 8, 4, u32(1000));
    EXPECT_TRUE(refuse(overlong).contains(QStringLiteral("sample tables")));

    QByteArray saio = good;
    saio.replace(saio.indexOf("sbgp"), 4, "saio");
    EXPECT_TRUE(refuse(saio).contains(QStringLiteral("saio")));

    QByteArray truncated = TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/tail.m4a")));
    truncated.chop(10);
    EXPECT_EQ(refuse(truncated), QStringLiteral("The 'moov' atom runs past the end of the file"));

    QByteArray twoMovies = good + good.mid(startOf(good, "moov"), Mp4Check::topLevel(good)[1].length);
    EXPECT_EQ(refuse(twoMovies), QStringLiteral("Several 'moov' atoms found in MP4 file"));

    EXPECT_EQ(refuse(ftyp() + atom("mdat", "x")), QStringLiteral("No 'moov' atom found in MP4 file"));
}

TEST_F(MP4HandlerWriteTest, SizeZeroChildIsGivenItsLengthWhenSomethingFollows) {
    QByteArray bytes =
        TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/no_udta_faststart.m4a")));
    const qint64 moovStart = startOf(bytes, "moov");
    const qsizetype lastTrak = bytes.lastIndexOf("trak", moovStart + Mp4Check::topLevel(bytes)[1].length) - 4;
    bytes.replace(lastTrak, 4, u32(0));
    const Result r = writeBytes(bytes, QStringLiteral("Acid 80er"), 1988);
    expectSound(r, QStringLiteral("faststart.m4a"));
    expectTagLibGenre(r, QStringLiteral("Acid 80er"));
}

TEST(MP4HandlerOffsets, AdjustShiftsOnlyEntriesAtOrAfterThresholdAndChangesNothingOnFailure) {
    auto movie = [](const QByteArray& stblChildren) {
        return atom("trak", atom("mdia", atom("minf", atom("stbl", stblChildren))));
    };
    const QByteArray stco = atom("stco", u32(0) + u32(3) + u32(10) + u32(100) + u32(200));
    const QByteArray co64 = atom("co64", u32(0) + u32(1) + u32(0) + u32(300));
    QByteArray bytes = movie(stco + co64);
    auto result = MP4Handler::adjustChunkOffsets(bytes, 0, bytes.size(), 5, 100);
    EXPECT_TRUE(result.complete);
    EXPECT_EQ(result.tables, 2);
    EXPECT_EQ(result.shifted, 3);
    EXPECT_EQ(bytes, movie(atom("stco", u32(0) + u32(3) + u32(10) + u32(105) + u32(205)) +
                           atom("co64", u32(0) + u32(1) + u32(0) + u32(305))));

    QByteArray high = movie(atom("stco", u32(0) + u32(2) + u32(100) + u32(0xFFFFFFFE)));
    const QByteArray highBefore = high;
    result = MP4Handler::adjustChunkOffsets(high, 0, high.size(), 5, 0);
    EXPECT_TRUE(result.outOfRange);
    EXPECT_EQ(high, highBefore);

    QByteArray low = movie(atom("stco", u32(0) + u32(1) + u32(3)));
    result = MP4Handler::adjustChunkOffsets(low, 0, low.size(), -5, 0);
    EXPECT_TRUE(result.outOfRange);

    QByteArray broken = movie(stco + u32(3) + "junk");
    const QByteArray brokenBefore = broken;
    result = MP4Handler::adjustChunkOffsets(broken, 0, broken.size(), 5, 0);
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(broken, brokenBefore);

    // A table claiming one entry more than it holds is damage; one that holds them all is not.
    for (const int count : {2, 3}) {
        QByteArray claimed = movie(atom("stco", u32(0) + u32(count) + u32(10) + u32(20)));
        EXPECT_EQ(MP4Handler::adjustChunkOffsets(claimed, 0, claimed.size(), 5, 0).complete, count == 2);
    }
}
