#include "tagio/id3/ID3v2Handler.h"

#include "AppliedPieces.h"
#include "Id3Bytes.h"
#include "Id3Frames.h"
#include "TagProbe.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "tagio/ByteSource.h"
#include "tagio/FilePieces.h"
#include "tagio/UniversalTagWriter.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <tuple>

using namespace Id3Bytes;
using Range = ID3v2Handler::Range;
using IdBody = QPair<QByteArray, QByteArray>;

namespace {

const QString nul(QChar(0));

QList<IdBody> frames(const QByteArray& tagBytes) {
    const auto list = Id3Frames::listFrames(tagBytes);
    QList<IdBody> out;
    std::ranges::transform(list, std::back_inserter(out), [](const auto& f) { return IdBody(f.id, f.body); });
    return out;
}

QList<IdBody> without(QList<IdBody> list, const QSet<QByteArray>& ids) {
    list.removeIf([&](const IdBody& f) { return ids.contains(f.first); });
    return list;
}

QByteArray tagOf(const QByteArray& file, const QString& path) {
    const auto range = ID3v2Handler::locateTag(file, path);
    return range ? file.mid(range->start, range->length()) : QByteArray();
}

QList<IdBody> writtenFrames(const QByteArray& file, const QString& genre, std::optional<int> year = {},
                            std::optional<QString> title = {}, std::optional<QString> artist = {}) {
    return frames(
        tagOf(AppliedPieces::apply(
                  ID3v2Handler::writeGenre(genre, year, title, artist, SourceBytes(file), "/m/a.mp3"), file),
              "/m/a.mp3"));
}

AppError writeError(const QByteArray& file, const QString& path) {
    const auto write = [&] { ID3v2Handler::writeGenre("Pop", {}, {}, {}, SourceBytes(file), path); };
    return expectThrows(std::nullopt, write).value_or(AppError::cancelled());
}

const QByteArray apicBody = QByteArray("\0image/png\0\3\0", 13) + QByteArray::fromHex("89504E47FFE0FF00FFFB");

struct Id3Fixture {
    const char* file;
    std::optional<int> year;
    std::optional<QString> genre;
    bool taglibBlind = false; // TagLib itself does not find the input's tag
};
const Id3Fixture id3Fixtures[] = {
    {"v23_ffmpeg.mp3", 1987, "House"}, // ffmpeg ends text frames with a NUL: a terminator
    {"v24_rich.mp3", 2003, "Rock" + nul + "Pop"}, // extended header, footer, unsynchronised APIC
    {"v24_ffmpeg.mp3", 1979, "Funk"},
    {"v23_unsync.mp3", 1994, "(17)Rock"},
    {"v23_ext.mp3", 1993, "Ambient", true},
    {"v23_frames.mp3", 1988, "House"},
    {"notag.mp3", {}, {}},
    {"ffmpeg.aiff", 1972, "Soul"},
    {"odd_chunks.aiff", 1995, "Techno"},
    {"notag.wav", {}, {}},
    {"nul_id.aiff", 1995, "Techno", true}, // an "ID3\0" chunk
    {"odd_chunks.wav", 1979, "Disco"},
    {"mixed_case.wav", 1995, "Techno", true},
    {"nopad.wav", {}, {}},
};

} // namespace

using ID3v2HandlerFixtureTest = ::testing::TestWithParam<Id3Fixture>;

// Every fixture gives its year and raw genre; written and read back through TagLib and our own
// reader, the audio and every frame but the replaced ones keep content and order.
TEST_P(ID3v2HandlerFixtureTest, FixturesReadAndRoundTripKeepingAudioAndEveryOtherFrame) {
    const Id3Fixture& c = GetParam();
    const QString fixture = "id3/" + QString::fromLatin1(c.file);
    EXPECT_EQ(ID3v2Handler::readYear(TestFiles::fixturePath(fixture)), c.year) << c.file;
    EXPECT_EQ(ID3v2Handler::readGenre(TestFiles::fixturePath(fixture)), c.genre) << c.file;
    for (const std::optional<int> year : {std::optional<int>(1987), std::optional<int>()}) {
        SCOPED_TRACE(std::string(c.file) + (year ? " with year" : " without year"));
        QTemporaryDir dir;
        const QString path = TestFiles::copyFixture(fixture, dir);
        const QByteArray before = TestFiles::readFile(path);
        const auto taglibBefore = TagProbe::id3Frames(path);
        const AudioFormat format = audioFormatForPath(path);
        const QByteArray payload = TagProbe::audioPayload(path, format); // a v2.4 footer is not audio
        const QByteArray audioBefore = payload.startsWith("3DI") ? payload.mid(10) : payload;

        TestFiles::writeFile(path, AppliedPieces::apply(ID3v2Handler::writeGenre("House 80er", year, {}, {},
                                                                                 SourceBytes(before), path),
                                                        before));

        EXPECT_EQ(TagProbe::audioPayload(path, format), audioBefore);
        EXPECT_EQ(ID3v2Handler::readYear(path), year ? year : c.year);
        const QByteArray newTag = tagOf(TestFiles::readFile(path), path);
        EXPECT_EQ(newTag.left(6), QByteArray("ID3\3\0\0", 6));
        EXPECT_EQ(newTag.right(ID3v2Handler::paddingSize), QByteArray(ID3v2Handler::paddingSize, '\0'));

        // A kept ID3v2.4 TDRC becomes TYER and TDAT, which TagLib reads as TDRC again.
        QSet<QByteArray> dropped{"TCON", "TDAT"};
        QList<IdBody> added{{"TCON", "\3House 80er"}};
        if (year) {
            dropped += {"TYER", "TDRC"};
            added += IdBody("TYER", "\3" "1987");
        }
        if (!c.taglibBlind) {
            EXPECT_EQ(without(TagProbe::id3Frames(path), dropped), without(taglibBefore, dropped));
        }
        EXPECT_EQ(TagProbe::properties(path, format).value("GENRE"), QStringList{"House 80er"});
        const auto ours = frames(newTag);
        const QSet<QByteArray> years = dropped + QSet<QByteArray>{"TDRC", "TYER"};
        EXPECT_EQ(without(ours, years), without(frames(tagOf(before, path)), years));
        EXPECT_EQ(ours.mid(ours.size() - added.size()), added);
    }
}
INSTANTIATE_TEST_SUITE_P(, ID3v2HandlerFixtureTest, ::testing::ValuesIn(id3Fixtures), RowName());

TEST(ID3v2HandlerTest, BigEndianTagSizeOnlyWhenFramesOutgrowSyncsafe) {
    const QByteArray sizeField = QByteArray::fromHex("00000201"); // syncsafe 257, big-endian 513
    // A TXXX frame runs to 520, past 10 + 257; padding reaches 523, where the audio starts.
    QByteArray body = frame("TCON", text(0, "Rock")) + frame("TXXX", text(0, QByteArray(487, 'A')));
    body += QByteArray(513 - body.size(), '\0');
    EXPECT_EQ(ID3v2Handler::parseTagHeader(tag(3, body, 0, sizeField) + audio(64)), (Range{0, 523}));
    // A correct 257-byte tag followed by an APE tag or a second tag, 0xFF at 523 by chance.
    QByteArray small = frame("TCON", text(0, "Rock"));
    small += QByteArray(257 - small.size(), '\0');
    QByteArray ape = QByteArray("APETAGEX") + QByteArray(292, 'x');
    ape[523 - 267] = char(0xFF);
    EXPECT_EQ(ID3v2Handler::parseTagHeader(tag(3, small, 0, sizeField) + ape + audio(64)), (Range{0, 267}));
    QByteArray second = tag(3, small, 0, sizeField) + tag(3, QByteArray(300, '\0')) + audio(300);
    second[523] = char(0xFF);
    EXPECT_EQ(ID3v2Handler::parseTagHeader(second), (Range{0, 267}));
}

// One table for damage the reader must stop at: sizes one byte past the end, then the frame walk's
// padding, invalid IDs and frames running past the tag.
TEST(ID3v2HandlerTest, SizesOneBytePastTheEndAreDamage) {
    const QByteArray tcon = frame("TCON", text(0, "Rock"));
    const QByteArray frames = tcon + frame("TYER", text(0, "1987"));
    const QByteArray mp3Tag = tag(3, frames);
    QByteArray frameTooLong = mp3Tag;
    frameTooLong[10 + frames.size() - 15 + 7] = char(5 + 1); // TYER one byte longer than the tag
    QByteArray headerTooLong = mp3Tag;
    headerTooLong.replace(6, 4, syncsafe(uint32_t(frames.size() + 1)));
    const auto chunked = [&](bool little, int extra) {
        QByteArray out = little ? wav({{"id3 ", mp3Tag}}) : aiff({{"ID3 ", mp3Tag}});
        const uint32_t size = uint32_t(mp3Tag.size() + extra);
        out.replace(out.size() - mp3Tag.size() - 4, 4, little ? le32(size) : be32(size));
        return out;
    };
    QByteArray over = frame("TXXX", "abc") + tcon;
    over[7] = char(0x40);
    const struct {
        const char* name;
        QByteArray bytes;
        std::optional<int> year;
        std::optional<QString> genre;
    } cases[] = {
        {"a.mp3", mp3Tag, 1987, "Rock"}, {"b.mp3", frameTooLong + audio(16), {}, "Rock"},
        {"c.mp3", headerTooLong, {}, {}}, {"d.wav", chunked(true, 0), 1987, "Rock"},
        {"e.wav", chunked(true, 1), {}, {}}, {"f.aiff", chunked(false, 0), 1987, "Rock"},
        {"g.aiff", chunked(false, 1), {}, {}}, {"h.mp3", tag(3, frame("TXXX", "abc") + tcon), {}, "Rock"},
        {"i.mp3", tag(3, QByteArray(10, '\0') + tcon), {}, {}}, {"k.mp3", tag(3, over), {}, {}},
        {"j.mp3", tag(3, frame("TXxX", "abc") + tcon), {}, {}},
        {"l.mp3", QByteArray("XYZ\3\0\0\0\0\0\0") + tcon, {}, {}},
        {"m.mp3", tag(3, frame("TCON", text(3, ""))), {}, QString()},
        {"n.mp3", tag(3, frame("TCON", text(3, "\xFF")) + frame("TCON", text(3, "Ok"))), {}, "Ok"},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const QString path = dir.filePath(c.name);
        TestFiles::writeFile(path, c.bytes);
        const auto source = ByteSource::open(path);
        ASSERT_TRUE(source);
        const auto walked = ID3v2Handler::readYearAndGenre(*source, path);
        EXPECT_EQ(ID3v2Handler::readYear(path), c.year) << c.name;
        EXPECT_EQ(walked.year, c.year) << c.name;
        EXPECT_EQ(walked.genre, c.genre) << c.name;
        EXPECT_EQ(Id3Frames::findGenreFrame(tagOf(c.bytes, path)), c.genre) << c.name << " in memory";
    }
    const auto year = [](const QByteArray& frames) {
        return Id3Frames::findTextFrame({"TYER", "TDRC"}, tag(4, frames));
    };
    EXPECT_EQ(year(frame("TYER", "", true) + frame("TDRC", text(0, "2003-05-01"), true)), "2003-05-01");
    EXPECT_EQ(year(frame("TDRC", text(0, "1600"), true) + frame("TYER", text(0, "1987"), true)), "1600");
    EXPECT_FALSE(year(frame("TYER", text(3, "\xC3"), true) + frame("TDRC", text(0, "1999"), true)));
}

TEST(ID3v2HandlerTest, DecodesTextEncodingsAndRefusesBrokenText) {
    const struct {
        const char* hex;
        uint8_t encoding;
        std::optional<QString> text;
    } cases[] = {
        {"FFFE52006F0063006B00", 1, "Rock"}, {"FEFF0052006F0063006B", 1, "Rock"},
        {"0052006F0063006B", 2, "Rock"}, {"526F636B0000", 0, "Rock"}, {"526F636B00506F7300", 3, "Rock" + nul + "Pos"},
        {"FFFE38003000650072000000", 1, "80er"}, {"436166E9", 0, "Café"},
        {"436166C3A9", 3, "Café"}, {"436166C3A9", 9, "Café"}, {"436166E9", 3, {}},
        {"FFFE00D8", 1, {}}, {"FFFE00D84100", 1, {}}, {"FFFE4100FF", 1, {}}, {"", 1, QString()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ID3v2Handler::decodeTextStrict(QByteArray::fromHex(c.hex), c.encoding), c.text) << c.hex;
    }
}

TEST(ID3v2HandlerTest, NewFramesGoLastAndPaddingFollows) {
    const QByteArray file = tag(3, frame("TIT2", text(0, "T")) + frame("TCON", text(0, "House")) +
                                       frame("TXXX", text(0, "k\0v")) + frame("TYER", text(0, "1990")) +
                                       frame("APIC", apicBody) + QByteArray(30, '\0')) +
                            audio(100);
    const QByteArray out = AppliedPieces::apply(
        ID3v2Handler::writeGenre("House 80er", 1987, {}, {}, SourceBytes(file), "/m/a.mp3"), file);
    const QByteArray newTag = tagOf(out, "/m/a.mp3");
    EXPECT_EQ(out.mid(newTag.size()), audio(100));
    EXPECT_EQ(frames(newTag), (QList<IdBody>{{"TIT2", text(0, "T")}, {"TXXX", text(0, "k\0v")},
                                            {"APIC", apicBody}, {"TCON", "\3House 80er"},
                                            {"TYER", "\3" "1987"}}));
    EXPECT_EQ(writtenFrames(file, "House 80er"),
              (QList<IdBody>{{"TIT2", text(0, "T")}, {"TXXX", text(0, "k\0v")}, {"TYER", text(0, "1990")},
                             {"APIC", apicBody}, {"TCON", "\3House 80er"}}));
    // Title and artist given, even empty, replace the old ones.
    EXPECT_EQ(writtenFrames(file, "X", {}, QString(), QStringLiteral("Ärtist")).mid(3),
              (QList<IdBody>{{"TCON", "\3X"}, {"TIT2", "\3"}, {"TPE1", "\3\xC3\x84rtist"}}));

    // An ID3v1 tag seeds the new tag's title, artist and year, and stays at the end.
    const QByteArray v1 = TestFiles::readFile(TestFiles::fixturePath("id3/v1_only.mp3"));
    const QByteArray seeded =
        AppliedPieces::apply(ID3v2Handler::writeGenre("Pop", {}, {}, {}, SourceBytes(v1), "/m/v1.mp3"), v1);
    EXPECT_EQ(seeded.mid(tagOf(seeded, "/m/v1.mp3").size()), v1);
    EXPECT_EQ(writtenFrames(v1, "Pop"),
              (QList<IdBody>{{"TIT2", "\3Song"}, {"TPE1", "\3" "Band"}, {"TYER", "\3" "1999"},
                             {"TCON", "\3Pop"}}));
    EXPECT_EQ(writtenFrames(v1, "Pop", 2001, QStringLiteral("Given")),
              (QList<IdBody>{{"TPE1", "\3" "Band"}, {"TCON", "\3Pop"}, {"TYER", "\3" "2001"},
                             {"TIT2", "\3Given"}}));
}

// Without a new year one year frame stays: the one the year is read from. A second one
// came out as another TYER, so that players showed a different year than the scan.
TEST(ID3v2HandlerTest, KeepsOnlyTheYearFrameTheYearIsReadFrom) {
    const auto v24 = [](const QByteArray& frames) { return tag(4, frames) + audio(40); };
    const struct {
        const char* name;
        QByteArray file;
        IdBody year;
    } cases[] = {
        {"TYER 1987 before TDRC 2005", TestFiles::readFile(TestFiles::fixturePath("scan/year_mismatch.mp3")),
         {"TYER", "\3" "1987"}},
        {"TDRC before TYER", v24(frame("TDRC", text(0, "2003-05-01"), true) + frame("TYER", text(0, "1987"), true)),
         {"TYER", QByteArray("\0" "2003", 5)}},
        {"empty TYER first",
         v24(frame("TYER", "", true) + frame("TDRC", text(3, "1999"), true) + frame("TYER", text(0, "1987"), true)),
         {"TYER", QByteArray("\0" "1999", 5)}},
        {"two TYER in v2.3", tag(3, frame("TYER", text(0, "1994")) + frame("TYER", text(0, "1995"))) + audio(40),
         {"TYER", QByteArray("\0" "1994", 5)}},
    };
    for (const auto& c : cases) {
        QList<IdBody> written = writtenFrames(c.file, "Pop");
        written.removeIf([](const IdBody& f) { return f.first != "TYER" && f.first != "TDRC"; });
        EXPECT_EQ(written, QList<IdBody>{c.year}) << c.name;
    }
}

// Containers and tags that cannot be written without damage are refused.
TEST(ID3v2HandlerTest, RefusesBrokenContainersAndDamagedOrUnconvertibleTags) {
    const QByteArray good = wav({{"data", audio(20)}});
    QByteArray rf64 = good;
    rf64.replace(0, 4, "RF64").replace(4, 4, QByteArray(4, char(0xFF)));
    QByteArray streaming = good;
    streaming.replace(40, 4, le32(0xFFFFFFFFu)); // a data chunk claiming more than the file holds
    const QByteArray tcon = frame("TCON", text(0, "Old"));
    QByteArray over = frame("TXXX", text(0, "abc")) + tcon;
    over[7] = char(0x60);
    struct Case {
        QByteArray file;
        QString path;
        const char* error;
    };
    QList<Case> cases{
        {QByteArray("FORM\0\0\0\3AIF", 11), "/m/s.aiff", "Invalid AIFF file"},
        {"RIFF", "/m/s.wav", "Invalid WAV file"}, {rf64, "/m/rf.wav", "Invalid WAV file"},
        {tag(3, tcon) + aiff({{"SSND", audio(28)}}), "/m/t.aiff", "Invalid AIFF file"},
        {container("FORM", "8SVX", {{"BODY", audio(20)}}), "/m/x.aif", "Invalid AIFF file"},
        {good, "/m/wav-as.aiff", "Invalid AIFF file"}, {streaming, "/m/st.wav", "Invalid WAV file"},
        {good + "xyz", "/m/j.wav", "Invalid WAV file"}, {tag(5, tcon), "/m/d.mp3", "ID3v2.5"},
        {wav({{"id3 ", QByteArray(20, 'z')}}), "/m/nt.wav", ""},
        {tag(3, over), "/m/d.mp3", "runs past the end"},
        {tag(3, frame("TXxX", text(0, "abc")) + frame("APIC", apicBody)), "/m/d.mp3", "invalid frame ID"},
        {tag(3, be32(500) + tcon, 0x40), "/m/d.mp3", "extended header"},
        {tag(4, frame("APIC", syncsafe(10) + QByteArray(12, 'z'), true, 0, 0x09)), "/m/d.mp3", "compressed"},
        {tag(4, frame("PRIV", QByteArray(12, 'z'), true, 0, 0x04)), "/m/d.mp3", "encrypted"},
        {TestFiles::readFile(TestFiles::fixturePath("id3/v22.mp3")), "/m/d.mp3", "ID3v2.2 tag not supported"},
    };
    // Other formats' data behind an MP3 name, with or without a tag in front.
    for (const QByteArray& head : {QByteArray("fLaC\0\0\0\x22", 8), QByteArray("RIFF\0\0\0\0WAVE", 12),
                                   QByteArray("FORM\0\0\0\0AIFF", 12), QByteArray("OggS\0\2\0\0", 8),
                                   QByteArray("\0\0\0\x20" "ftypM4A ", 12),
                                   QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C")}) {
        cases += {{head, "/m/f.mp3", "Not an MP3 file"}, {tag(3, tcon) + head, "/m/f.mp3", "Not an MP3"}};
    }
    for (const auto& c : cases) {
        const AppError e = writeError(c.path.endsWith(".mp3") ? c.file + audio(64) : c.file, c.path);
        const std::string row = c.file.left(16).toHex().toStdString() + " as " + c.path.toStdString();
        EXPECT_EQ(e.kind(), AppError::Kind::tagWriteFailed) << row;
        EXPECT_TRUE(e.text().contains(c.error)) << row << ": " << e.text().toStdString();
    }
    const QByteArray aifc = container("FORM", "AIFC", {});
    EXPECT_NO_THROW(
        AppliedPieces::apply(ID3v2Handler::writeGenre("P", {}, {}, {}, SourceBytes(aifc), "/m/c.aif"), aifc));
    // A compressed frame that is replaced anyway is no obstacle.
    const QByteArray compressed = tag(4, frame("TCON", "\x78\x9C", true, 0, 0x08)) + audio(10);
    EXPECT_EQ(writtenFrames(compressed, "P"), (QList<IdBody>{{"TCON", "\3P"}}));
    // An invalid ID followed only by zeros is stray padding: the frames before it are kept.
    const QByteArray stray = frame("TXXX", text(0, "k\0v")) + QByteArray("\xFFX") + QByteArray(42, '\0');
    EXPECT_EQ(writtenFrames(tag(3, stray) + audio(10), "P"),
              (QList<IdBody>{{"TXXX", text(0, "k\0v")}, {"TCON", "\3P"}}));
}

// A large frame that passes unchanged is copied from the old file, not held in memory; an
// unsynchronised one is converted. A tag that would have to be held in memory beyond the
// reader's bound (64 MiB) is refused, and the file stays as it was.
TEST(ID3v2HandlerTest, LargeFramesPassAsRangesAndTagsHeldOverTheBoundAreRefused) {
    const QByteArray picture = apicBody + QByteArray("pp\xFF", 3).repeated(1 << 18);
    const QByteArray unsynced = QByteArray(picture).replace("\xFF", QByteArray("\xFF\0", 2));
    const QByteArray whole = frame("APIC", picture).replace("\xFF", QByteArray("\xFF\0", 2));
    const QByteArray v24 = frame("APIC", picture, true);
    const QByteArray footer =
        tag(4, v24, 0x10) + QByteArray("3DI\4\0\x10", 6) + syncsafe(uint32_t(v24.size()));
    const struct {
        const char* name;
        QByteArray file;
        QByteArray body; // the new tag's APIC body
        bool copied;
    } rows[] = {
        {"a.mp3", tag(3, frame("APIC", picture)) + audio(64), picture, true},
        {"group.mp3",
         tag(4, frame("APIC", "\5" + syncsafe(picture.size()) + picture, true, 0, 0x41)) + audio(64),
         "\5" + picture, true},
        {"a.wav", wav({{"data", audio(64)}, {"id3 ", tag(3, frame("APIC", picture))}}), picture, true},
        {"unsync.mp3", tag(4, frame("APIC", unsynced, true, 0, 0x02)) + audio(64), picture, false},
        {"unsync-tag.mp3", tag(4, frame("APIC", unsynced, true), 0x80) + audio(64), picture, false},
        {"whole.mp3", tag(3, whole, 0x80) + audio(64), picture, false},
        {"footer.mp3", footer + audio(64), picture, true},
        {"footer.aiff", aiff({{"SSND", audio(64)}, {"ID3 ", footer}}), picture, true},
        {"footer.wav", wav({{"data", audio(64)}, {"id3 ", footer}}), picture, true},
    };
    for (const auto& row : rows) {
        const QString path = QStringLiteral("/m/") + row.name;
        const FilePieces pieces = ID3v2Handler::writeGenre("Pop", {}, {}, {}, SourceBytes(row.file), path);
        const QByteArray newTag = tagOf(AppliedPieces::apply(pieces, row.file), path);
        EXPECT_EQ(frames(newTag), (QList<IdBody>{{"APIC", row.body}, {"TCON", "\3Pop"}})) << row.name;
        EXPECT_EQ(newTag.left(6), QByteArray("ID3\3\0\0", 6)) << row.name; // ID3v2.3, never unsynchronised
        qint64 held = 0;
        for (const FilePieces::Piece& piece : pieces.pieces()) {
            held += piece.bytes.size();
        }
        EXPECT_EQ(held < picture.size(), row.copied) << row.name << ": " << held << " bytes held";
    }

    // 1,150 small frames that pass unchanged, over 64 MiB in all: those beyond the bound are copied,
    // however near the held frames came to it (64 MiB holds 1,024 frames of 64 KiB exactly).
    QTemporaryDir dir;
    const QByteArray mpeg = TestFiles::readFile(TestFiles::fixturePath("id3/notag.mp3"));
    const qsizetype count = 1150;
    const struct {
        int version;
        qsizetype frameSize; // header included
    } privRows[] = {{3, 63 * 1024}, {3, 64 * 1024}, {4, 64 * 1024}};
    for (const auto& row : privRows) {
        SCOPED_TRACE(testing::Message() << "v2." << row.version << ", " << row.frameSize);
        const auto priv = [&](qsizetype i) {
            return QByteArray("owner\0", 6) + QByteArray::number(i).rightJustified(8, '0') +
                   QByteArray(row.frameSize - 24, 'p');
        };
        QByteArray privs;
        for (qsizetype i = 0; i < count; ++i) {
            privs += frame("PRIV", priv(i), row.version == 4);
        }
        const QString path = dir.filePath(QStringLiteral("priv.mp3"));
        TestFiles::writeFile(path, tag(row.version, privs) + mpeg);
        privs.clear();
        ASSERT_NO_THROW(UniversalTagWriter().writeGenre("Pop", {}, {}, {}, path, AudioFormat::mp3));
        // Every frame as it was, in ID3v2.3 form, then the genre.
        const QByteArray written = TestFiles::readFile(path);
        const auto kept = [&](qsizetype i) {
            return written.mid(10 + i * row.frameSize, row.frameSize) == frame("PRIV", priv(i));
        };
        qsizetype same = 0;
        while (same < count && kept(same)) {
            ++same;
        }
        EXPECT_EQ(same, count);
        EXPECT_EQ(frames(tagOf(written, path)).value(count), IdBody("TCON", "\3Pop"));
    }

    // Unsynchronised as a whole: an ID3v2.3 tag is undone whole, an ID3v2.4 tag frame by frame.
    const qint64 body = (qint64(64) << 20) + 1;
    for (const int version : {3, 4}) {
        SCOPED_TRACE(version);
        const QByteArray apic =
            "APIC" + (version == 4 ? syncsafe(uint32_t(body)) : be32(uint32_t(body))) + QByteArray(2, '\0');
        const QString path = dir.filePath(QStringLiteral("v%1.mp3").arg(version));
        ASSERT_TRUE(TestFiles::writeSparse(path, tag(version, apic, 0x80, syncsafe(uint32_t(10 + body))),
                                           20 + body + mpeg.size(), {{20 + body, mpeg}}));
        const auto stamp = [&] {
            struct stat st {};
            EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
            return std::tuple(st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        };
        const auto before = stamp();
        const auto source = ByteSource::open(path);
        ASSERT_TRUE(source);
        const auto handler = expectThrows(AppError::Kind::tagWriteFailed, [&] {
            ID3v2Handler::writeGenre("Pop", {}, {}, {}, SourceBytes(*source), path);
        });
        const auto writer = expectThrows(AppError::Kind::tagWriteFailed, [&] {
            UniversalTagWriter().writeGenre("Pop", 1987, {}, {}, path, AudioFormat::mp3);
        });
        ASSERT_TRUE(handler && writer);
        EXPECT_TRUE(handler->text().contains("too large to rewrite")) << handler->text().toStdString();
        EXPECT_TRUE(writer->text().contains("too large")) << writer->text().toStdString();
        EXPECT_EQ(stamp(), before);
    }
}
