#include "tagio/mp4/MP4Handler.h"

#include "AppliedPieces.h"
#include "Id3Bytes.h"
#include "TagProbe.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "tagio/Bytes.h"
#include "tagio/GenreNames.h"
#include "tagio/MediaAsset.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Byte builders for synthetic files.
const QByteArray kGen = QByteArray("\xA9") + "gen";
const QByteArray kDay = QByteArray("\xA9") + "day";

const auto u32 = Id3Bytes::be32;
QByteArray atom(const QByteArray& type, const QByteArray& payload) {
    return u32(uint32_t(payload.size() + 8)) + type + payload;
}
// The 64-bit size form (32-bit size 1).
QByteArray atom64(const QByteArray& type, const QByteArray& payload) {
    return u32(1) + type + u32(0) + u32(uint32_t(payload.size() + 16)) + payload;
}
QByteArray item(const QByteArray& key, const QByteArray& payload, uint32_t kind = 1) {
    return atom(key, atom("data", u32(kind) + u32(0) + payload));
}
QByteArray genreNumberItem(uint16_t n) {
    return item("gnre", QByteArray(1, char(n >> 8)) + QByteArray(1, char(n & 0xFF)), 0);
}
QByteArray ftyp() {
    return atom("ftyp", QByteArray("M4A ") + u32(0) + "M4A isom");
}
// ftyp + moov/udta/meta/ilst holding `items` (an iTunes-style meta: version and flags before the children).
QByteArray fileWithItems(const QByteArray& items) {
    return ftyp() + atom("moov", atom("udta", atom("meta", u32(0) + atom("ilst", items))));
}

QByteArray fixture(const char* name) {
    return TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/") + QLatin1String(name)));
}

// An independent check of MP4 files: a small strict parser of the atoms and the sample tables.
namespace check {

struct Box {
    QByteArray type;
    qint64 start = 0, payload = 0, end = 0;
};

quint64 be(const QByteArray& b, qint64 at, int width) {
    quint64 v = 0;
    for (int i = 0; i < width && at + i < b.size(); ++i) {
        v = (v << 8) | quint8(b[at + i]);
    }
    return v;
}

// Strict: every box fits its range exactly, else no value (a top-level tail shorter than a header is
// allowed).
std::optional<QList<Box>> boxes(const QByteArray& b, qint64 start, qint64 end) {
    QList<Box> out;
    for (qint64 o = start; o < end;) {
        if (end - o < 8) {
            return start == 0 && end == b.size() ? std::optional(out) : std::nullopt;
        }
        quint64 size = be(b, o, 4);
        const qint64 header = size == 1 ? 16 : 8;
        size = size == 1 ? be(b, o + 8, 8) : size == 0 ? quint64(end - o) : size;
        if (size < quint64(header) || size > quint64(end - o)) {
            return std::nullopt;
        }
        out.append(Box{b.mid(o + 4, 4), o, o + header, o + qint64(size)});
        o += qint64(size);
    }
    return out;
}

std::optional<Box> child(const QByteArray& b, const std::optional<Box>& parent, const QByteArray& type) {
    const auto list =
        parent ? boxes(b, parent->payload + (parent->type == "meta" ? 4 : 0), parent->end) : std::nullopt;
    for (const Box& c : list.value_or(QList<Box>())) {
        if (c.type == type) {
            return c;
        }
    }
    return std::nullopt;
}

// The first atom along `path` from the top level; throws when there is none.
Box find(const QByteArray& b, const QList<QByteArray>& path) {
    std::optional<Box> at = Box{{}, 0, 0, b.size()};
    for (const QByteArray& type : path) {
        at = child(b, at, type);
    }
    return at.value();
}

// One chunk: where the chunk offset table puts it, its length from the sample-size and sample-to-chunk
// tables.
struct Chunk {
    quint64 offset = 0;
    qint64 length = 0;
    bool operator==(const Chunk&) const = default;
};

// The chunks of every track, in track order; no value when a table cannot be read strictly.
std::optional<QList<Chunk>> chunks(const QByteArray& file) {
    const auto top = boxes(file, 0, file.size());
    QList<Chunk> list;
    for (const Box& moov : top.value_or(QList<Box>())) {
        const auto traks = moov.type == "moov" ? boxes(file, moov.payload, moov.end) : QList<Box>();
        if (!traks) {
            return std::nullopt;
        }
        for (const Box& trak : *traks) {
            if (trak.type != "trak") {
                continue;
            }
            const auto stbl = child(file, child(file, child(file, trak, "mdia"), "minf"), "stbl");
            const auto stco = child(file, stbl, "stco");
            const auto co = stco ? stco : child(file, stbl, "co64");
            const auto stsz = child(file, stbl, "stsz");
            const auto stsc = child(file, stbl, "stsc");
            if (!co || !stsz || !stsc) {
                return std::nullopt;
            }
            const qint64 fixedSize = qint64(be(file, stsz->payload + 4, 4));
            const qint64 sampleCount = qint64(be(file, stsz->payload + 8, 4));
            const qint64 runs = qint64(be(file, stsc->payload + 4, 4));
            qint64 sample = 0;
            for (qint64 c = 0; c < qint64(be(file, co->payload + 4, 4)); ++c) {
                qint64 perChunk = 0;
                for (qint64 r = 0; r < runs; ++r) {
                    if (qint64(be(file, stsc->payload + 8 + 12 * r, 4)) <= c + 1) {
                        perChunk = qint64(be(file, stsc->payload + 12 + 12 * r, 4));
                    }
                }
                Chunk chunk{
                    stco ? be(file, co->payload + 8 + 4 * c, 4) : be(file, co->payload + 8 + 8 * c, 8), 0};
                for (qint64 s = 0; s < perChunk && sample < sampleCount; ++s, ++sample) {
                    chunk.length +=
                        fixedSize ? fixedSize : qint64(be(file, stsz->payload + 12 + 4 * sample, 4));
                }
                list.append(chunk);
            }
        }
    }
    return top ? std::optional(list) : std::nullopt;
}

// Empty when every chunk of `after` holds exactly the bytes of the same chunk of `before`; else the first
// difference.
QString compareChunks(const QByteArray& before, const QByteArray& after) {
    const auto a = chunks(before);
    const auto b = chunks(after);
    if (!a || !b || a->size() != b->size()) {
        return QStringLiteral("sample tables unreadable or of another chunk count");
    }
    qint64 compared = 0;
    for (qsizetype c = 0; c < a->size(); ++c) {
        const Chunk& x = (*a)[c];
        const Chunk& y = (*b)[c];
        if (x.length != y.length || x.offset + quint64(x.length) > quint64(before.size()) ||
            y.offset + quint64(y.length) > quint64(after.size()) ||
            std::memcmp(before.constData() + x.offset, after.constData() + y.offset, size_t(x.length))) {
            return QStringLiteral("chunk %1 differs (offset %2 -> %3)").arg(c).arg(x.offset).arg(y.offset);
        }
        compared += x.length;
    }
    return compared > 0 ? QString() : QStringLiteral("no chunk bytes compared");
}

} // namespace check

class MP4HandlerTest : public ::testing::Test {
protected:
    QString put(const QByteArray& bytes) {
        TestFiles::writeFile(path(), bytes);
        return path();
    }
    std::optional<QString> genreOf(const QByteArray& bytes) { return handler.readGenre(put(bytes)); }
    // Every write of a real file is checked from the outside: the bytes of every chunk where
    // the independent parse of the sample tables puts them, and TagLib's genre.
    QByteArray write(const QByteArray& before, const QString& genre, std::optional<int> year = {},
                     std::optional<QString> title = {}, std::optional<QString> artist = {}) {
        const QByteArray after = AppliedPieces::apply(
            handler.writeGenre(genre, year, title, artist, SourceBytes(before), path()), before);
        put(after);
        EXPECT_EQ(check::compareChunks(before, after), QString());
        EXPECT_EQ(tags().genre, genre);
        EXPECT_EQ(handler.readGenre(path()), genre);
        return after;
    }
    TagProbe::Tags tags() const { return TagProbe::viaTagLib(path(), AudioFormat::m4a); }
    QString path() const { return dir.filePath("t.m4a"); }

    QTemporaryDir dir;
    MP4Handler handler{id3v1GenreNames()};
};

} // namespace

TEST_F(MP4HandlerTest, ItemsGiveTheFirstUsableGenreAndYear) {
    const struct {
        QByteArray items;
        std::optional<QString> genre;
        std::optional<int> year = std::nullopt;
    } cases[] = {
        {item(kGen, "\xFF\xFE") + genreNumberItem(5), "Disco"}, // invalid UTF-8: the number is used
        {atom(kGen, atom("junk", "x")) + item(kGen, "Pop") + genreNumberItem(18), "Rock"},
        {item(kGen, "Pop") + item(kGen, "Rock") + item(kDay, "2023"), "Pop", 2023},
        {genreNumberItem(1) + item(kDay, "Live 1987"), "Blues", 1987},
        {genreNumberItem(80) + item(kDay, "1899"), "Hard Rock"},
        {genreNumberItem(0) + item(kDay, "87"), {}},
        {genreNumberItem(81), {}},
        {atom("gnre", atom("data", u32(0) + u32(0))), {}}, // too short for the number
    };
    for (const auto& c : cases) {
        EXPECT_EQ(genreOf(fileWithItems(c.items)), c.genre) << c.items.toHex().toStdString();
        EXPECT_EQ(handler.readYear(path()), c.year) << c.items.toHex().toStdString();
    }
}

TEST_F(MP4HandlerTest, ParserSkipsDamageAndHonoursSizeForms) {
    // Sizes 2..7 are no atom: the parser steps on by one byte.
    const QByteArray afterJunk = u32(7) + QByteArray("abcd") + QByteArray(3, '\0') + atom("free", "");
    EXPECT_GT(MP4Handler::parseAtoms(afterJunk, 0, afterJunk.size()).value(0).start, 0);
    // A child of size 0 takes the rest of its container; a top-level moov of size 0 the rest of the file.
    const QByteArray zeroChild = atom("moov", atom("mvhd", "x") + u32(0) + "udta" + QByteArray(12, 'y'));
    const auto moov = MP4Handler::parseAtoms(zeroChild, 0, zeroChild.size());
    ASSERT_EQ(moov.first().children.size(), 2);
    EXPECT_EQ(moov.first().children[1].end, zeroChild.size());
    QByteArray toEnd = fileWithItems(item(kGen, "End"));
    toEnd.replace(ftyp().size(), 4, u32(0));
    EXPECT_EQ(genreOf(toEnd), QStringLiteral("End"));
    // 64-bit sizes: children start 16 bytes in (20 for meta).
    const QByteArray wide = atom64("meta", u32(0) + atom64("ilst", item(kGen, "Wide")));
    EXPECT_EQ(genreOf(ftyp() + atom64("moov", atom64("udta", wide))), QStringLiteral("Wide"));
    // A size past the end is clamped, a 64-bit size of 2^63 and more too.
    const QByteArray huge =
        u32(1) + QByteArray("free") + u32(0xFFFFFFFF) + u32(0xFFFFFFF0) + QByteArray(40, 'x');
    const auto clamped = MP4Handler::parseAtoms(huge, 0, huge.size());
    ASSERT_EQ(clamped.size(), 1);
    EXPECT_EQ(clamped[0].end, huge.size());
    EXPECT_TRUE(clamped[0].clamped);
    // A truncated data atom gives no value rather than a read past the item.
    EXPECT_EQ(genreOf(fileWithItems(item(kGen, "Truncated")).chopped(3)), std::nullopt);
}

// A QuickTime-style meta (no version and flags, the item list first) under udta:
// the own media parser reads the same items as from the iTunes-style original.
TEST_F(MP4HandlerTest, OwnParserReadsAMetaWithoutVersionAndFlags) {
    const auto values = [this](const QByteArray& bytes) {
        QStringList out;
        const MediaAsset asset = MediaAsset::load(put(bytes));
        for (const MediaAsset::Item& i : asset.metadata()) {
            out.append(i.key.value_or("-") + '=' + i.stringValue.value_or("-"));
        }
        return out;
    };
    QByteArray bytes = fixture("tail.m4a"); // the movie after the media: no offset moves
    const QStringList original = values(bytes);
    const check::Box meta = check::find(bytes, {"moov", "udta", "meta"});
    const check::Box ilst = check::find(bytes, {"moov", "udta", "meta", "ilst"});
    const QByteArray shortMeta = atom("meta", bytes.mid(ilst.start, ilst.end - ilst.start));
    for (const check::Box& box : {check::find(bytes, {"moov"}), check::find(bytes, {"moov", "udta"})}) {
        bytes.replace(box.start, 4, u32(uint32_t(box.end - box.start - (meta.end - meta.start) + shortMeta.size())));
    }
    bytes.replace(meta.start, meta.end - meta.start, shortMeta);
    EXPECT_TRUE(original.contains(QString::fromLatin1("\xA9") + "gen=House"));
    EXPECT_EQ(values(bytes), original);
}

// A movie before the media: growing it moves the media and repairs the offsets; shrinking
// it is absorbed by the following free atom.
TEST_F(MP4HandlerTest, MovieBeforeMediaGrowsAndShrinks) {
    const QString title = QStringLiteral("A considerably longer new title");
    const QString artist = QStringLiteral("Künstler & Friends");
    const QByteArray before = fixture("faststart.m4a");
    const QByteArray grown = write(before, "Deep House 80er", 1987, title, artist);
    const TagProbe::Tags seen = tags();
    EXPECT_EQ(std::tuple(seen.year, seen.title, seen.artist), std::tuple(std::optional(1987), title, artist));
    EXPECT_EQ(handler.readYear(path()), 1987);
    const qint64 delta = grown.size() - before.size();
    ASSERT_GT(delta, 0);
    EXPECT_EQ(check::find(grown, {"mdat"}).start, check::find(before, {"mdat"}).start + delta);
    EXPECT_EQ(
        AppliedPieces::apply(
            handler.writeGenre("Deep House 80er", 1987, title, artist, SourceBytes(grown), path()), grown),
        grown);

    const QByteArray shrunk = write(before, "Dub");
    EXPECT_EQ(shrunk.size(), before.size());
    EXPECT_EQ(check::chunks(shrunk), check::chunks(before));
    EXPECT_EQ(tags().title, "Fixture Title"); // untouched when not given
    EXPECT_EQ(handler.readYear(path()), 1987);
}

TEST_F(MP4HandlerTest, EveryLayoutKeepsItsChunksAndItems) {
    for (const char* name : {"no_udta_faststart.m4a", "no_udta_tail.m4a", "plain.m4a"}) {
        const QByteArray after = write(fixture(name), "Ambient", 1994, QStringLiteral("Title"));
        EXPECT_EQ(tags().title, "Title") << name;
        const check::Box meta = check::find(after, {"moov", "udta", "meta"});
        EXPECT_EQ(after.mid(meta.payload + 8, 16), "hdlr" + QByteArray(8, '\0') + "mdir") << name;
    }
    // Chunks before the movie are not moved: their offsets stay (the chunk check sees the bytes there).
    for (const char* name : {"co64.m4a", "wide_sizes.m4a", "mixed.m4a"}) {
        write(fixture(name), "Deep House 80er", 1987);
    }
    const QByteArray cover = fixture("cover.m4a");
    const qsizetype covr = cover.indexOf("covr") - 4;
    ASSERT_GT(covr, 0);
    EXPECT_TRUE(write(cover, "Techno 00er", 2001).contains(cover.mid(covr, Bytes::u32BE(cover, covr))));
    // A size-0 child is given its length when something follows it.
    QByteArray zero = fixture("no_udta_faststart.m4a");
    zero.replace(zero.lastIndexOf("trak", check::find(zero, {"moov"}).end) - 4, 4, u32(0));
    write(zero, "Acid 80er", 1988);
}

TEST_F(MP4HandlerTest, DamagedOrUnrepairableFilesAreRefused) {
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
    swallowed.insert(check::find(good, {"free"}).start, QByteArray(4, '\0'));
    for (qsizetype at = swallowed.indexOf("stco"); at >= 0; at = swallowed.indexOf("stco", at + 4)) {
        for (qint64 k = 0, p = at + 12; k < Bytes::u32BE(swallowed, at + 8); ++k, p += 4) {
            Bytes::putU32BE(swallowed, p, Bytes::u32BE(swallowed, p) + 4);
        }
    }
    const check::Box moov = check::find(good, {"moov"});
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
        {good + good.mid(moov.start, moov.end - moov.start), "Several 'moov' atoms found in MP4 file"},
        {ftyp() + atom("mdat", "x"), "No 'moov' atom found in MP4 file"},
        {fixture("fragmented.m4a"), "", 1999},
    };
    for (const auto& c : cases) {
        const auto e = expectThrows(AppError::Kind::tagWriteFailed, [&] {
            handler.writeGenre("Deep House 80er", c.year, {}, {}, SourceBytes(c.bytes), "x.m4a");
        });
        EXPECT_TRUE(e && e->text().contains(QLatin1String(c.error))) << c.error;
    }
}

TEST(MP4HandlerOffsetsTest, AdjustShiftsOnlyEntriesAtOrAfterThresholdAndChangesNothingOnFailure) {
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
        EXPECT_EQ(result.complete && !result.outOfRange, c.complete && !c.outOfRange)
            << c.movie.toHex().toStdString();
        EXPECT_EQ(result.outOfRange, c.outOfRange);
        if (!c.complete || c.outOfRange) {
            EXPECT_EQ(changed, c.movie); // nothing changes on failure
        }
    }
}
