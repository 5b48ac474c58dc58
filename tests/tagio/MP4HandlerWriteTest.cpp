#include "tagio/MP4Handler.h"

#include "Mp4Check.h"
#include "TestFiles.h"
#include "model/AppError.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

// Writing. Every write of a real file is checked from the outside: decoded
// audio, the bytes of every chunk, ffprobe and TagLib.

namespace {

const QString kGen = QStringLiteral("\u00A9gen");
const QString kDay = QStringLiteral("\u00A9day");
const QString kNam = QStringLiteral("\u00A9nam");
const QString kArt = QStringLiteral("\u00A9ART");
const QByteArray kGenB = QByteArray("\xA9") + "gen";
const QByteArray kDayB = QByteArray("\xA9") + "day";
const QByteArray kArtB = QByteArray("\xA9") + "ART";

QByteArray u32(quint32 v) {
    QByteArray b;
    b.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
    return b;
}

QByteArray atom(const QByteArray& type, const QByteArray& payload) {
    return u32(quint32(payload.size() + 8)) + type + payload;
}

QByteArray textItem(const QByteArray& key, const QByteArray& utf8) {
    return atom(key, atom("data", u32(1) + u32(0) + utf8));
}

QByteArray ftyp() {
    return atom("ftyp", QByteArray("M4A ") + u32(0) + "M4A isom");
}

QByteArray fileWithItems(const QByteArray& items) {
    return ftyp() + atom("moov", atom("udta", atom("meta", u32(0) + atom("ilst", items)))) +
           atom("mdat", "media");
}

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
        QString console;
    };

    Result writeBytes(const QByteArray& before, const QString& genre, std::optional<int> year = {},
                      std::optional<QString> title = {}, std::optional<QString> artist = {}) {
        Result r;
        r.before = before;
        r.path = dir.filePath(QStringLiteral("written-%1.m4a").arg(++count));
        testing::internal::CaptureStdout();
        try {
            r.after = handler.writeGenre(genre, year, title, artist, r.before, r.path);
        } catch (...) {
            testing::internal::GetCapturedStdout();
            throw;
        }
        r.console = QString::fromStdString(testing::internal::GetCapturedStdout());
        TestFiles::writeFile(r.path, r.after);
        return r;
    }

    Result write(const QString& fixture, const QString& genre, std::optional<int> year = {},
                 std::optional<QString> title = {}, std::optional<QString> artist = {}) {
        return writeBytes(TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/") + fixture)),
                          genre, year, title, artist);
    }

    // What every write of a real file must keep: the audio and every chunk.
    void expectSound(const Result& r, const QString& referenceFixture) {
        EXPECT_EQ(Mp4Check::compareChunks(r.before, r.after), QString());
        const QString md5 =
            Mp4Check::decodedAudioMd5(TestFiles::fixturePath(QStringLiteral("mp4/") + referenceFixture));
        ASSERT_TRUE(md5.startsWith(QStringLiteral("MD5="))) << md5.toStdString();
        EXPECT_EQ(Mp4Check::decodedAudioMd5(r.path), md5);
        EXPECT_EQ(Mp4Check::ffprobeErrors(r.path), QString());
    }

    void expectTagLibGenre(const Result& r, const QString& genre) {
        EXPECT_EQ(Mp4Check::taglibItems(r.path).value(kGen), QStringList{genre});
        EXPECT_EQ(handler.readGenre(r.path), genre);
    }

    template <typename F> AppError expectRefused(F&& f) {
        try {
            f();
        } catch (const AppError& e) {
            EXPECT_EQ(e.kind(), AppError::Kind::tagWriteFailed);
            return e;
        }
        ADD_FAILURE() << "the write was not refused";
        return AppError::cancelled();
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
    EXPECT_TRUE(r.console.contains(
        QStringLiteral("[MP4Handler] 'free' atom too small (8) to absorb delta=%1").arg(delta)));
    EXPECT_TRUE(
        r.console.contains(QStringLiteral("[MP4Handler] Adjusting stco/co64 offsets by +%1").arg(delta)));
    EXPECT_EQ(r.console.count(QStringLiteral("[MP4Handler] stco: adjusted 12 offsets")), 2);

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
    EXPECT_TRUE(
        r.console.contains(QStringLiteral("[MP4Handler] Absorbing delta=-7 into 'free' atom (new size=15)")));
    // Title, artist and date are untouched when not given.
    EXPECT_EQ(Mp4Check::taglibItems(r.path).value(kNam), QStringList{QStringLiteral("Fixture Title")});
    EXPECT_EQ(handler.readYear(r.path), 1987);
}

TEST_F(MP4HandlerWriteTest, LargeFreeAtomAbsorbsGrowthAndMediaStays) {
    const Result r = write(QStringLiteral("free_absorb.m4a"), QStringLiteral("Rock 80er"), 1985);
    expectSound(r, QStringLiteral("free_absorb.m4a"));
    expectTagLibGenre(r, QStringLiteral("Rock 80er"));
    EXPECT_EQ(r.after.size(), r.before.size());
    EXPECT_EQ(offsets(r.after), offsets(r.before));
    EXPECT_EQ(r.after.mid(startOf(r.after, "mdat")), r.before.mid(startOf(r.before, "mdat")));
    const auto top = Mp4Check::topLevel(r.after);
    ASSERT_GE(top.size(), 3);
    EXPECT_EQ(top[2].type, QByteArray("free"));
    const auto old = Mp4Check::topLevel(r.before);
    EXPECT_EQ(top[1].length + top[2].length, old[1].length + old[2].length);
    EXPECT_GT(top[1].length, old[1].length);
    EXPECT_FALSE(r.console.contains(QStringLiteral("Adjusting")));
}

TEST_F(MP4HandlerWriteTest, MovieAfterMediaNeedsNoOffsetChange) {
    const Result r = write(QStringLiteral("tail.m4a"), QStringLiteral("House 00er"), 2001);
    expectSound(r, QStringLiteral("tail.m4a"));
    expectTagLibGenre(r, QStringLiteral("House 00er"));
    EXPECT_EQ(offsets(r.after), offsets(r.before));
    EXPECT_EQ(r.console.count(QStringLiteral("[MP4Handler]")), 1); // only the size line
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
    const auto covers = Mp4Check::taglibCovers(r.path);
    ASSERT_EQ(covers.size(), 1);
    EXPECT_EQ(covers, Mp4Check::taglibCovers(TestFiles::fixturePath(QStringLiteral("mp4/cover.m4a"))));
}

TEST_F(MP4HandlerWriteTest, NumericGenreIsReplacedByText) {
    const Result r = write(QStringLiteral("gnre.m4a"), QStringLiteral("Disco 70er"));
    expectSound(r, QStringLiteral("gnre.m4a"));
    expectTagLibGenre(r, QStringLiteral("Disco 70er"));
    auto types = Mp4Check::itemTypes(r.before);
    types.replace(types.indexOf("gnre"), kGenB);
    EXPECT_EQ(Mp4Check::itemTypes(r.after), types);
}

TEST_F(MP4HandlerWriteTest, SixtyFourBitOffsetsAndSizesAreRepaired) {
    const Result co64 = write(QStringLiteral("co64.m4a"), QStringLiteral("Deep House 80er"));
    expectSound(co64, QStringLiteral("faststart.m4a"));
    expectTagLibGenre(co64, QStringLiteral("Deep House 80er"));
    EXPECT_EQ(co64.console.count(QStringLiteral("[MP4Handler] co64: adjusted 12 offsets")), 2);

    const Result wide = write(QStringLiteral("wide_sizes.m4a"), QStringLiteral("Deep House 80er"), 1987);
    expectSound(wide, QStringLiteral("faststart.m4a"));
    expectTagLibGenre(wide, QStringLiteral("Deep House 80er"));
    EXPECT_EQ(wide.console.count(QStringLiteral("stco: adjusted 12 offsets")), 2);
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
    testing::internal::CaptureStdout();
    expectRefused(
        [&] { handler.writeGenre(QStringLiteral("Trance 90er"), 1999, {}, {}, bytes, QStringLiteral("f")); });
    testing::internal::GetCapturedStdout();
}

TEST_F(MP4HandlerWriteTest, QuickTimeMetaIsLeftAloneAndItunesListMadeBeside) {
    const Result r = write(QStringLiteral("qtmeta.m4a"), QStringLiteral("Funk 70er"), 1975);
    expectSound(r, QStringLiteral("plain.m4a"));
    expectTagLibGenre(r, QStringLiteral("Funk 70er"));
    EXPECT_EQ(Mp4Check::atomPayload(r.after, {"moov", "meta"}),
              Mp4Check::atomPayload(r.before, {"moov", "meta"}));
    // A second write replaces rather than adds.
    const Result again = writeBytes(r.after, QStringLiteral("Soul 70er"), 1975);
    EXPECT_EQ(again.after.size(), r.after.size());
    EXPECT_EQ(handler.readGenre(again.path), QStringLiteral("Soul 70er"));
}

TEST_F(MP4HandlerWriteTest, KeyedMetadataListRefusesTheWrite) {
    // udta/meta with handler "mdta" holds the file's tags through a keys table;
    // an iTunes list before it would hide them from other players.
    const QByteArray bytes = TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/mdta.m4a")));
    testing::internal::CaptureStdout();
    expectRefused(
        [&] { handler.writeGenre(QStringLiteral("Funk 70er"), 1975, {}, {}, bytes, QStringLiteral("f")); });
    testing::internal::GetCapturedStdout();
}

TEST_F(MP4HandlerWriteTest, BytesOutsideParsedAtomsAreKept) {
    // A short tail after the last atom.
    QByteArray tail = TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/faststart.m4a")));
    tail.append("xyz");
    const Result r = writeBytes(tail, QStringLiteral("Garage 90er"), 1996);
    expectSound(r, QStringLiteral("faststart.m4a"));
    EXPECT_TRUE(r.after.endsWith("xyz"));
    EXPECT_EQ(r.after.mid(startOf(r.after, "mdat")), r.before.mid(startOf(r.before, "mdat")));
}

TEST_F(MP4HandlerWriteTest, UnverifiableMoveIsRefused) {
    // Four zero bytes after moov read as a size-0 atom that swallows the mdat:
    // the media would move while no table is repaired, so the write is refused.
    QByteArray bytes = TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/faststart.m4a")));
    const qint64 freeAt = startOf(bytes, "free");
    bytes.insert(freeAt, QByteArray(4, '\0'));
    shiftStco(bytes, 4);
    testing::internal::CaptureStdout();
    const AppError e = expectRefused([&] {
        handler.writeGenre(QStringLiteral("Deep House 80er"), 1987, {}, {}, bytes, QStringLiteral("u"));
    });
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(e.text(), QStringLiteral("Chunk offsets no longer match the media data"));
}

TEST_F(MP4HandlerWriteTest, DamagedOrUnrepairableTablesAreRefused) {
    const QByteArray good = TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/faststart.m4a")));
    auto refuse = [&](QByteArray bytes) {
        testing::internal::CaptureStdout();
        const AppError e = expectRefused(
            [&] { handler.writeGenre(QStringLiteral("Deep House 80er"), {}, {}, {}, bytes, "d"); });
        testing::internal::GetCapturedStdout();
        return e.text();
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

TEST_F(MP4HandlerWriteTest, ItemListRules) {
    const QByteArray other = textItem("\xA9too", "enc");
    // gnre first and a later ©gen: the genre takes the gnre's place, the later one goes.
    Result r = writeBytes(fileWithItems(atom("gnre", atom("data", u32(0) + u32(0) + "\0\x05")) + other +
                                        textItem(kGenB, "Old")),
                          QStringLiteral("New"));
    EXPECT_EQ(Mp4Check::itemTypes(r.after), (QList<QByteArray>{kGenB, "\xA9too"}));
    EXPECT_EQ(handler.readGenre(r.path), QStringLiteral("New"));

    // Two dates: one remains with a year, both without.
    const QByteArray days = textItem(kDayB, "1980") + textItem(kDayB, "1981");
    r = writeBytes(fileWithItems(days), QStringLiteral("G"), 1990);
    EXPECT_EQ(Mp4Check::itemTypes(r.after), (QList<QByteArray>{kDayB, kGenB}));
    EXPECT_EQ(handler.readYear(r.path), 1990);
    r = writeBytes(fileWithItems(days), QStringLiteral("G"));
    EXPECT_EQ(Mp4Check::itemTypes(r.after), (QList<QByteArray>{kDayB, kDayB, kGenB}));
    EXPECT_TRUE(r.after.contains(days));

    // Two artists: the first is replaced, the second stays as it was.
    const QByteArray second = textItem(kArtB, "Second");
    r = writeBytes(fileWithItems(textItem(kArtB, "First") + second), QStringLiteral("G"), {}, {},
                   QStringLiteral("Neu"));
    EXPECT_EQ(Mp4Check::itemTypes(r.after), (QList<QByteArray>{kArtB, kArtB, kGenB}));
    EXPECT_TRUE(r.after.contains(textItem(kArtB, "Neu") + second));

    // Nothing but the genre: appended after the untouched items.
    r = writeBytes(fileWithItems(other), QStringLiteral("Only"));
    EXPECT_TRUE(r.after.contains(atom("ilst", other + textItem(kGenB, "Only"))));
    // The rebuilt meta gains the handler it lacked.
    EXPECT_EQ(Mp4Check::atomPayload(r.after, {"moov", "udta", "meta"})->mid(4, 33).mid(4, 4),
              QByteArray("hdlr"));
}

TEST_F(MP4HandlerWriteTest, DuplicateContainersKeepTheirContent) {
    const QByteArray secondUdta =
        atom("udta", atom("meta", u32(0) + atom("ilst", textItem(kGenB, "Second"))));
    const QByteArray secondIlst = atom("ilst", textItem(kGenB, "Other list"));
    const QByteArray bytes =
        ftyp() +
        atom("moov",
             atom("udta", atom("meta", u32(0) + atom("ilst", textItem(kGenB, "First")) + secondIlst)) +
                 secondUdta) +
        atom("mdat", "media");
    const Result r = writeBytes(bytes, QStringLiteral("New"));
    EXPECT_EQ(handler.readGenre(r.path), QStringLiteral("New"));
    EXPECT_TRUE(r.after.contains(secondUdta));
    EXPECT_TRUE(r.after.contains(secondIlst));
    EXPECT_FALSE(r.after.contains("First"));
}

TEST(MP4HandlerOffsets, AdjustShiftsOnlyEntriesAtOrAfterThresholdAndChangesNothingOnFailure) {
    auto movie = [](const QByteArray& stblChildren) {
        return atom("trak", atom("mdia", atom("minf", atom("stbl", stblChildren))));
    };
    const QByteArray stco = atom("stco", u32(0) + u32(3) + u32(10) + u32(100) + u32(200));
    const QByteArray co64 = atom("co64", u32(0) + u32(1) + u32(0) + u32(300));
    QByteArray bytes = movie(stco + co64);
    testing::internal::CaptureStdout();
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
    testing::internal::GetCapturedStdout();
}
