#include "tagio/MP4Handler.h"

#include "Mp4Bytes.h"
#include "Mp4Check.h"
#include "TagProbe.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "tagio/Bytes.h"

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

QByteArray fixture(const char* name) {
    return TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/") + QLatin1String(name)));
}

QList<quint64> offsets(const QByteArray& file) {
    QList<quint64> out;
    for (const auto& track : Mp4Check::chunks(file).value_or(QList<QList<Mp4Check::Chunk>>())) {
        for (const auto& chunk : track) {
            out.append(chunk.offset);
        }
    }
    return out;
}

Mp4Check::TopAtom top(const QByteArray& file, const QByteArray& type) {
    for (const auto& a : Mp4Check::topLevel(file)) {
        if (a.type == type) {
            return a;
        }
    }
    return {};
}

// Every write of a real file is checked from the outside: the bytes of every
// chunk where an independent parse of the sample tables puts them, and TagLib.
class MP4HandlerWriteTest : public ::testing::Test {
protected:
    // Writes, checks every chunk and TagLib's genre, and returns the new bytes.
    QByteArray write(const QByteArray& before, const QString& genre, std::optional<int> year = {},
                     std::optional<QString> title = {}, std::optional<QString> artist = {}) {
        const QByteArray after = handler.writeGenre(genre, year, title, artist, before, path());
        TestFiles::writeFile(path(), after);
        EXPECT_EQ(Mp4Check::compareChunks(before, after), QString());
        EXPECT_EQ(tags().value("GENRE"), QStringList{genre});
        EXPECT_EQ(handler.readGenre(path()), genre);
        return after;
    }
    QMap<QString, QStringList> tags() const { return TagProbe::properties(path(), AudioFormat::m4a); }
    QString path() const { return dir.filePath("written.m4a"); }
    QString refusal(const QByteArray& bytes, std::optional<int> year) {
        const auto e = expectThrows(AppError::Kind::tagWriteFailed, [&] { handler.writeGenre("Deep House 80er", year, {}, {}, bytes, "x.m4a"); });
        return e ? e->text() : QString();
    }

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

TEST_F(MP4HandlerWriteTest, GrowingMovieBeforeMediaMovesMediaAndRepairsOffsets) {
    const QString title = QStringLiteral("A considerably longer new title");
    const QString artist = QStringLiteral("Künstler & Friends");
    const QByteArray before = fixture("faststart.m4a");
    const QByteArray after = write(before, "Deep House 80er", 1987, title, artist);
    EXPECT_EQ(tags().value("DATE"), QStringList{"1987"});
    EXPECT_EQ(tags().value("TITLE"), QStringList{title});
    EXPECT_EQ(tags().value("ARTIST"), QStringList{artist});
    EXPECT_EQ(handler.readYear(path()), 1987);
    const qint64 delta = after.size() - before.size();
    ASSERT_GT(delta, 0);
    EXPECT_EQ(top(after, "mdat").start, top(before, "mdat").start + delta);
    EXPECT_EQ(handler.writeGenre("Deep House 80er", 1987, title, artist, after, path()), after);
}

TEST_F(MP4HandlerWriteTest, ShrinkingMovieIsAbsorbedByTheFollowingFreeAtom) {
    const QByteArray before = fixture("faststart.m4a");
    const QByteArray after = write(before, "Dub");
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(offsets(after), offsets(before));
    EXPECT_EQ(tags().value("TITLE"), QStringList{"Fixture Title"}); // untouched when not given
    EXPECT_EQ(handler.readYear(path()), 1987);
}

TEST_F(MP4HandlerWriteTest, EveryLayoutKeepsItsChunksAndItems) {
    for (const char* name : {"no_udta_faststart.m4a", "no_udta_tail.m4a", "plain.m4a"}) {
        write(fixture(name), "Ambient", 1994, QStringLiteral("Title"));
        EXPECT_EQ(tags().value("TITLE"), QStringList{"Title"}) << name;
        const auto meta = Mp4Check::atomPayload(TestFiles::readFile(path()), {"moov", "udta", "meta"});
        ASSERT_TRUE(meta.has_value()) << name;
        EXPECT_EQ(meta->mid(8, 4), QByteArray("hdlr")) << name;
        EXPECT_EQ(meta->mid(20, 4), QByteArray("mdir")) << name;
    }
    for (const char* name : {"co64.m4a", "wide_sizes.m4a"}) {
        write(fixture(name), "Deep House 80er", 1987);
    }
    const QByteArray cover = fixture("cover.m4a");
    const qsizetype covr = cover.indexOf("covr") - 4;
    ASSERT_GT(covr, 0);
    EXPECT_TRUE(write(cover, "Techno 00er", 2001).contains(cover.mid(covr, Bytes::u32BE(cover, covr))));
    // Media before the movie keeps its offsets.
    const QByteArray mixed = fixture("mixed.m4a");
    const auto kept = offsets(mixed);
    const auto now = offsets(write(mixed, "Electro 80er", 1983));
    ASSERT_EQ(kept.size(), now.size());
    int below = 0;
    for (qsizetype i = 0; i < kept.size(); ++i) {
        if (qint64(kept[i]) < top(mixed, "moov").start) {
            EXPECT_EQ(now[i], kept[i]);
            ++below;
        }
    }
    EXPECT_GT(below, 0);
    // A size-0 child is given its length when something follows it.
    QByteArray zero = fixture("no_udta_faststart.m4a");
    zero.replace(zero.lastIndexOf("trak", top(zero, "moov").start + top(zero, "moov").length) - 4, 4, u32(0));
    write(zero, "Acid 80er", 1988);
}

TEST_F(MP4HandlerWriteTest, DamagedOrUnrepairableFilesAreRefused) {
    const QByteArray good = fixture("faststart.m4a");
    const qsizetype stco = good.indexOf("stco");
    ASSERT_GT(stco, 0);
    QByteArray overflow = good;
    overflow.replace(stco + 12, 4, u32(0xFFFFFFFE));
    QByteArray overlong = good;
    overlong.replace(stco + 8, 4, u32(1000));
    QByteArray saio = good;
    saio.replace(saio.indexOf("sbgp"), 4, "saio");
    // Four zero bytes after moov read as a size-0 atom swallowing the mdat: the
    // media would move while no table is repaired.
    QByteArray swallowed = good;
    swallowed.insert(top(good, "free").start, QByteArray(4, '\0'));
    for (qsizetype at = swallowed.indexOf("stco"); at >= 0; at = swallowed.indexOf("stco", at + 4)) {
        for (qint64 k = 0, p = at + 12; k < Bytes::u32BE(swallowed, at + 8); ++k, p += 4) {
            Bytes::putU32BE(swallowed, p, Bytes::u32BE(swallowed, p) + 4);
        }
    }
    const struct {
        QByteArray bytes;
        const char* error;
        std::optional<int> year = std::nullopt; // with a year the movie shrinks
    } cases[] = {
        {overflow, "A chunk offset would exceed its 32-bit field"},
        {overlong, "sample tables"},
        {saio, "saio"},
        {swallowed, "Chunk offsets no longer match the media data", 1987},
        {fixture("tail.m4a").chopped(10), "The 'moov' atom runs past the end of the file"},
        {good + good.mid(top(good, "moov").start, top(good, "moov").length), "Several 'moov' atoms found in MP4 file"},
        {Mp4Bytes::ftyp() + atom("mdat", "x"), "No 'moov' atom found in MP4 file"},
        {fixture("fragmented.m4a"), "", 1999},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(refusal(c.bytes, c.year).contains(QLatin1String(c.error))) << c.error;
    }
}

TEST(MP4HandlerOffsets, AdjustShiftsOnlyEntriesAtOrAfterThresholdAndChangesNothingOnFailure) {
    const auto movie = [](const QByteArray& stblChildren) {
        return atom("trak", atom("mdia", atom("minf", atom("stbl", stblChildren))));
    };
    const QByteArray stco = atom("stco", u32(0) + u32(3) + u32(10) + u32(100) + u32(200));
    QByteArray bytes = movie(stco + atom("co64", u32(0) + u32(1) + u32(0) + u32(300)));
    auto result = MP4Handler::adjustChunkOffsets(bytes, 0, bytes.size(), 5, 100);
    EXPECT_TRUE(result.complete);
    EXPECT_EQ(result.tables, 2);
    EXPECT_EQ(result.shifted, 3);
    EXPECT_EQ(bytes, movie(atom("stco", u32(0) + u32(3) + u32(10) + u32(105) + u32(205)) +
                           atom("co64", u32(0) + u32(1) + u32(0) + u32(305))));
    const struct {
        QByteArray movie;
        qint64 delta;
        bool complete;
        bool outOfRange;
    } cases[] = {
        {movie(atom("stco", u32(0) + u32(2) + u32(100) + u32(0xFFFFFFFE))), 5, true, true},
        {movie(atom("stco", u32(0) + u32(1) + u32(3))), -5, true, true},
        {movie(stco + u32(3) + "junk"), 5, false, false},
        // A table claiming one entry more than it holds is damage.
        {movie(atom("stco", u32(0) + u32(3) + u32(10) + u32(20))), 5, false, false},
        {movie(atom("stco", u32(0) + u32(2) + u32(10) + u32(20))), 5, true, false},
    };
    for (const auto& c : cases) {
        QByteArray changed = c.movie;
        result = MP4Handler::adjustChunkOffsets(changed, 0, changed.size(), c.delta, 0);
        EXPECT_EQ(result.complete && !result.outOfRange, c.complete && !c.outOfRange) << c.movie.toHex().toStdString();
        EXPECT_EQ(result.outOfRange, c.outOfRange);
        if (!c.complete || c.outOfRange) {
            EXPECT_EQ(changed, c.movie); // nothing changes on failure
        }
    }
}
