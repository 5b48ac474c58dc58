#include "tagio/ID3v2Handler.h"

#include "Id3Bytes.h"
#include "TestFiles.h"
#include "tagio/ByteSource.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Id3Bytes;
using Range = ID3v2Handler::Range;

namespace {

const QString nul(QChar(0));

QString put(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    TestFiles::writeFile(dir.filePath(name), bytes);
    return dir.filePath(name);
}

} // namespace

TEST(ID3v2HandlerRead, FixturesGiveYearAndRawGenre) {
    const struct {
        const char* file;
        std::optional<int> year;
        std::optional<QString> genre;
    } cases[] = {
        {"id3/v23_ffmpeg.mp3", 1987, "House" + nul}, // ffmpeg ends text frames with a NUL, kept raw
        {"id3/v24_rich.mp3", 2003, "Rock" + nul + "Pop"}, // extended header, footer, unsynchronised APIC
        {"id3/v24_ffmpeg.mp3", 1979, "Funk" + nul},      {"id3/v23_unsync.mp3", 1994, QStringLiteral("(17)Rock")},
        {"id3/v23_ext.mp3", 1993, QStringLiteral("Ambient")}, {"id3/v23_frames.mp3", 1988, QStringLiteral("House")},
        {"id3/v1_only.mp3", {}, {}}, {"id3/notag.mp3", {}, {}}, {"id3/v22.mp3", {}, {}}, {"id3/notag.wav", {}, {}},
        {"id3/ffmpeg.aiff", 1972, "Soul" + nul},         {"id3/odd_chunks.aiff", 1995, QStringLiteral("Techno")},
        {"id3/nul_id.aiff", 1995, QStringLiteral("Techno")}, {"id3/odd_chunks.wav", 1979, QStringLiteral("Disco")},
        {"id3/mixed_case.wav", 1995, QStringLiteral("Techno")},
    };
    for (const auto& c : cases) {
        const QString path = TestFiles::fixturePath(QString::fromLatin1(c.file));
        EXPECT_EQ(ID3v2Handler::readYear(path), c.year) << c.file;
        EXPECT_EQ(ID3v2Handler::readGenre(path), c.genre) << c.file;
    }
}

TEST(ID3v2HandlerRead, BigEndianTagSizeOnlyWhenFramesOutgrowSyncsafe) {
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

TEST(ID3v2HandlerRead, SizesOneBytePastTheEndAreDamage) {
    const QByteArray frames = frame("TCON", text(0, "Rock")) + frame("TYER", text(0, "1987"));
    const QByteArray mp3Tag = tag(3, frames);
    QByteArray frameTooLong = mp3Tag;
    frameTooLong[10 + frames.size() - 15 + 7] = char(5 + 1); // TYER one byte longer than the tag
    QByteArray headerTooLong = mp3Tag;
    headerTooLong.replace(6, 4, syncsafe(uint32_t(frames.size() + 1)));
    const auto chunked = [&](bool little, int extra) {
        QByteArray out = little ? wav({{"fmt ", wavFmt()}, {"id3 ", mp3Tag}}) : aiff({{"COMM", aiffComm(1)}, {"ID3 ", mp3Tag}});
        const uint32_t size = uint32_t(mp3Tag.size() + extra);
        out.replace(out.size() - mp3Tag.size() - 4, 4, little ? le32(size) : be32(size));
        return out;
    };
    const struct {
        const char* name;
        QByteArray bytes;
        std::optional<int> year;
    } cases[] = {
        {"a.mp3", mp3Tag, 1987},          {"b.mp3", frameTooLong + audio(16), {}}, {"c.mp3", headerTooLong, {}},
        {"d.wav", chunked(true, 0), 1987}, {"e.wav", chunked(true, 1), {}},
        {"f.aiff", chunked(false, 0), 1987}, {"g.aiff", chunked(false, 1), {}},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const QString path = put(dir, c.name, c.bytes);
        EXPECT_EQ(ID3v2Handler::readYear(path), c.year) << c.name;
        const auto source = ByteSource::open(path);
        ASSERT_TRUE(source);
        EXPECT_EQ(ID3v2Handler::readYearAndGenre(*source, path).year, c.year) << c.name;
    }
}

TEST(ID3v2HandlerRead, FrameWalkStopsAtPaddingInvalidIdsAndOverruns) {
    const QByteArray tcon = frame("TCON", text(0, "Rock"));
    QByteArray over = frame("TXXX", "abc") + tcon;
    over[7] = char(0x40);
    const struct {
        QByteArray tag;
        std::optional<QString> genre;
    } cases[] = {
        {tag(3, frame("TXXX", "abc") + tcon), QStringLiteral("Rock")},
        {tag(3, QByteArray(10, '\0') + tcon), {}},
        {tag(3, frame("TXxX", "abc") + tcon), {}},
        {tag(3, frame("TX X", "abc") + tcon), {}},
        {tag(3, over), {}},
        {QByteArray("XYZ\3\0\0\0\0\0\0") + tcon, {}},
        {tag(3, frame("TCON", text(3, ""))), QString()},
        {tag(3, frame("TCON", text(3, "\xFF")) + frame("TCON", text(3, "Ok"))), QStringLiteral("Ok")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ID3v2Handler::findGenreFrame(c.tag), c.genre) << c.tag.toHex().toStdString();
    }
    const auto year = [](const QByteArray& frames) { return ID3v2Handler::findTextFrame({"TYER", "TDRC"}, tag(4, frames)); };
    EXPECT_EQ(year(frame("TYER", "", true) + frame("TDRC", text(0, "2003-05-01"), true)), QStringLiteral("2003-05-01"));
    EXPECT_EQ(year(frame("TDRC", text(0, "1600"), true) + frame("TYER", text(0, "1987"), true)), QStringLiteral("1600"));
    EXPECT_EQ(year(frame("TYER", text(3, "\xC3"), true) + frame("TDRC", text(0, "1999"), true)), std::nullopt);
}

TEST(ID3v2HandlerRead, DecodesTextEncodingsAndRefusesBrokenText) {
    const struct {
        const char* hex;
        uint8_t encoding;
        std::optional<QString> text;
    } cases[] = {
        {"FFFE52006F0063006B00", 1, QStringLiteral("Rock")}, {"FEFF0052006F0063006B", 1, QStringLiteral("Rock")},
        {"0052006F0063006B", 2, QStringLiteral("Rock")},     {"526F636B00", 0, "Rock" + nul},
        {"436166E9", 0, QStringLiteral("Café")},             {"436166C3A9", 3, QStringLiteral("Café")},
        {"436166C3A9", 9, QStringLiteral("Café")},           {"436166E9", 3, {}},
        {"FFFE00D8", 1, {}}, {"FFFE00D84100", 1, {}}, {"FFFE4100FF", 1, {}}, {"", 1, QString()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ID3v2Handler::decodeText(QByteArray::fromHex(c.hex), c.encoding), c.text) << c.hex;
    }
}
