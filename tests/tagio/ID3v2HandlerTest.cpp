#include "tagio/ID3v2Handler.h"

#include "Id3Bytes.h"
#include "TestFiles.h"
#include "model/AppError.h"
#include "tagio/ByteSource.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Id3Bytes;
using Range = ID3v2Handler::Range;

namespace {

QString nul() {
    return QString(QChar(0));
}

// Writes bytes to a file in the temp dir and returns its path.
QString put(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    TestFiles::writeFile(path, bytes);
    return path;
}

} // namespace

// ---------------------------------------------------------------------------
// Fixtures written by ffmpeg and by our byte-level fixture script.

TEST(ID3v2HandlerRead, FixturesGiveYearAndRawGenre) {
    struct Case {
        const char* file;
        std::optional<int> year;
        std::optional<QString> genre;
    };
    const QList<Case> cases = {
        // ffmpeg ends its text frames with a NUL, which the raw genre keeps.
        {"id3/v23_ffmpeg.mp3", 1987, QStringLiteral("House") + nul()},
        {"id3/v24_ffmpeg.mp3", 1979, QStringLiteral("Funk") + nul()},
        // Extended header, footer, unsynchronised APIC, UTF-16 title, multi-value TCON kept raw.
        {"id3/v24_rich.mp3", 2003, QStringLiteral("Rock") + nul() + QStringLiteral("Pop")},
        // Tag-level unsynchronisation; numeric reference kept raw.
        {"id3/v23_unsync.mp3", 1994, QStringLiteral("(17)Rock")},
        {"id3/v23_ext.mp3", 1993, QStringLiteral("Ambient")},
        {"id3/v23_frames.mp3", 1988, QStringLiteral("House")},
        {"id3/v1_only.mp3", std::nullopt, std::nullopt},
        {"id3/notag.mp3", std::nullopt, std::nullopt},
        {"id3/v22.mp3", std::nullopt, std::nullopt},
        {"id3/ffmpeg.aiff", 1972, QStringLiteral("Soul") + nul()},
        {"id3/odd_chunks.aiff", 1995, QStringLiteral("Techno")},
        {"id3/nul_id.aiff", 1995, QStringLiteral("Techno")},
        {"id3/odd_chunks.wav", 1979, QStringLiteral("Disco")},
        {"id3/mixed_case.wav", 1995, QStringLiteral("Techno")},
        {"id3/notag.wav", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = TestFiles::fixturePath(QString::fromLatin1(c.file));
        EXPECT_EQ(ID3v2Handler::readYear(path), c.year);
        EXPECT_EQ(ID3v2Handler::readGenre(path), c.genre);
    }
}

// ---------------------------------------------------------------------------
// MP3 tag size: syncsafe unless the frames prove it wrong.

TEST(ID3v2HandlerRead, BigEndianTagSizeOnlyWhenFramesOutgrowSyncsafe) {
    // Size bytes 00 00 02 01: syncsafe 257, big-endian 513.
    const QByteArray sizeField = QByteArray::fromHex("00000201");

    // A TXXX frame runs from 10 + 12 to 520, well past 10 + 257; 3 bytes of
    // padding reach 523, where the audio starts with 0xFF.
    QByteArray body = frame("TCON", text(0, "Rock")) + frame("TXXX", text(0, QByteArray(487, 'A')));
    body += QByteArray(513 - body.size(), '\0');
    QByteArray file = tag(3, body, 0, sizeField) + audio(64);
    ASSERT_EQ(uint8_t(file[267]), 0x41);
    ASSERT_EQ(uint8_t(file[523]), 0xFF);
    EXPECT_EQ(ID3v2Handler::parseTagHeader(file), (Range{0, 523}));

    // A correct 257-byte tag followed by an APE tag: byte 267 is 'A', and byte
    // 523 is 0xFF by chance. The frames end inside 257, so the audio is not cut.
    QByteArray small = frame("TCON", text(0, "Rock"));
    small += QByteArray(257 - small.size(), '\0');
    QByteArray trailer = QByteArray("APETAGEX") + QByteArray(292, 'x');
    trailer[523 - 267] = char(0xFF);
    file = tag(3, small, 0, sizeField) + trailer + audio(64);
    ASSERT_EQ(uint8_t(file[523]), 0xFF);
    EXPECT_EQ(ID3v2Handler::parseTagHeader(file), (Range{0, 267}));

    // A second tag right after a correct one.
    file = tag(3, small, 0, sizeField) + tag(3, QByteArray(300, '\0')) + audio(300);
    file[523] = char(0xFF);
    EXPECT_EQ(ID3v2Handler::parseTagHeader(file), (Range{0, 267}));
}

// ---------------------------------------------------------------------------
// ID3v2.4 frame sizes.

// Size fields that reach exactly to the end are read; one byte further is
// damage, never a read into the audio or past the file.
TEST(ID3v2HandlerRead, SizesOneBytePastTheEndAreDamage) {
    const QByteArray frames = frame("TCON", text(0, "Rock")) + frame("TYER", text(0, "1987"));
    const QByteArray mp3Tag = tag(3, frames);
    QByteArray frameTooLong = mp3Tag;
    frameTooLong[10 + frames.size() - 15 + 7] = char(5 + 1); // the last frame (TYER) one byte longer
    QByteArray headerTooLong = mp3Tag;
    headerTooLong.replace(6, 4, syncsafe(uint32_t(frames.size() + 1)));
    const auto chunked = [&](const QByteArray& t, bool little, int extra) {
        QByteArray out =
            little ? wav({{"fmt ", wavFmt()}, {"id3 ", t}}) : aiff({{"COMM", aiffComm(1)}, {"ID3 ", t}});
        const qsizetype at = out.size() - t.size() - 4;
        out.replace(at, 4, little ? le32(uint32_t(t.size() + extra)) : be32(uint32_t(t.size() + extra)));
        return out;
    };
    ASSERT_EQ(mp3Tag.size() % 2, 0);
    const struct {
        const char* name;
        QByteArray bytes;
        std::optional<int> year;
    } cases[] = {
        {"a.mp3", mp3Tag, 1987},
        {"b.mp3", frameTooLong + audio(16), std::nullopt},
        {"c.mp3", headerTooLong, std::nullopt},
        {"d.wav", chunked(mp3Tag, true, 0), 1987},
        {"e.wav", chunked(mp3Tag, true, 1), std::nullopt},
        {"f.aiff", chunked(mp3Tag, false, 0), 1987},
        {"g.aiff", chunked(mp3Tag, false, 1), std::nullopt},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = put(dir, c.name, c.bytes);
        EXPECT_EQ(ID3v2Handler::readYear(path), c.year);
        const auto source = ByteSource::open(path);
        ASSERT_TRUE(source);
        EXPECT_EQ(ID3v2Handler::readYearAndGenre(*source, path).year, c.year);
    }
}

TEST(ID3v2HandlerRead, WalkStopsAtPaddingAndInvalidIds) {
    const QByteArray tcon = frame("TCON", text(0, "Rock"));
    EXPECT_EQ(ID3v2Handler::findGenreFrame(tag(3, QByteArray(10, '\0') + tcon)), std::nullopt);
    EXPECT_EQ(ID3v2Handler::findGenreFrame(tag(3, frame("TXxX", "abc") + tcon)), std::nullopt);
    EXPECT_EQ(ID3v2Handler::findGenreFrame(tag(3, frame("TX X", "abc") + tcon)), std::nullopt);
    EXPECT_EQ(ID3v2Handler::findGenreFrame(tag(3, frame("TXXX", "abc") + tcon)), QStringLiteral("Rock"));
    // A frame that runs past the end ends the search.
    QByteArray over = frame("TXXX", "abc") + tcon;
    over[7] = char(0x40);
    EXPECT_EQ(ID3v2Handler::findGenreFrame(tag(3, over)), std::nullopt);
    // Not a tag.
    EXPECT_EQ(ID3v2Handler::findGenreFrame(QByteArray("XYZ\3\0\0\0\0\0\0") + tcon), std::nullopt);
}

TEST(ID3v2HandlerRead, YearFromFirstYearFrame) {
    const auto year = [](const QByteArray& frames) {
        return ID3v2Handler::findTextFrame({"TYER", "TDRC"}, tag(4, frames));
    };
    EXPECT_EQ(year(frame("TYER", "", true) + frame("TDRC", text(0, "2003-05-01"), true)),
              QStringLiteral("2003-05-01"));
    EXPECT_EQ(year(frame("TDRC", text(0, "1600"), true) + frame("TYER", text(0, "1987"), true)),
              QStringLiteral("1600"));
    // A failed decode ends the search.
    EXPECT_EQ(year(frame("TYER", text(3, "\xC3"), true) + frame("TDRC", text(0, "1999"), true)),
              std::nullopt);

    QTemporaryDir dir;
    const QString ok =
        put(dir, "a.mp3", tag(4, frame("TYER", "", true) + frame("TDRC", text(0, "2003-05-01"), true)));
    EXPECT_EQ(ID3v2Handler::readYear(ok), 2003);
    const QString implausible = put(
        dir, "b.mp3", tag(4, frame("TDRC", text(0, "1600"), true) + frame("TYER", text(0, "1987"), true)));
    EXPECT_EQ(ID3v2Handler::readYear(implausible), std::nullopt);
}

TEST(ID3v2HandlerRead, DecodesTextEncodings) {
    EXPECT_EQ(ID3v2Handler::decodeText(QByteArray::fromHex("FFFE52006F0063006B00"), 1),
              QStringLiteral("Rock"));
    EXPECT_EQ(ID3v2Handler::decodeText(QByteArray::fromHex("FEFF0052006F0063006B"), 1),
              QStringLiteral("Rock"));
    EXPECT_EQ(ID3v2Handler::decodeText(QByteArray::fromHex("0052006F0063006B"), 2), QStringLiteral("Rock"));
    EXPECT_EQ(ID3v2Handler::decodeText(QByteArray("Rock\0", 5), 0), QStringLiteral("Rock") + nul());
    EXPECT_EQ(ID3v2Handler::decodeText("Caf\xE9", 0), QStringLiteral("Café"));
    EXPECT_EQ(ID3v2Handler::decodeText("Caf\xC3\xA9", 3), QStringLiteral("Café"));
    EXPECT_EQ(ID3v2Handler::decodeText("Caf\xC3\xA9", 9), QStringLiteral("Café"));
    EXPECT_EQ(ID3v2Handler::decodeText("Caf\xE9", 3), std::nullopt);
    EXPECT_EQ(ID3v2Handler::decodeText(QByteArray::fromHex("FFFE00D8"), 1), std::nullopt); // lone surrogate
    EXPECT_EQ(ID3v2Handler::decodeText(QByteArray::fromHex("FFFE00D84100"), 1), std::nullopt);
    EXPECT_EQ(ID3v2Handler::decodeText(QByteArray::fromHex("FFFE4100FF"), 1), std::nullopt); // odd length
    EXPECT_EQ(ID3v2Handler::decodeText({}, 1), QString());

    // A TCON of just the encoding byte is the empty text; an undecodable TCON
    // is passed over for the next one.
    EXPECT_EQ(ID3v2Handler::findGenreFrame(tag(3, frame("TCON", text(3, "")))), QString());
    EXPECT_EQ(
        ID3v2Handler::findGenreFrame(tag(3, frame("TCON", text(3, "\xFF")) + frame("TCON", text(3, "Ok")))),
        QStringLiteral("Ok"));
}

// ---------------------------------------------------------------------------
// AIFF and WAV chunk walks.

// ---------------------------------------------------------------------------
// Bounded reads: sizes are checked against the real file, and the read path
// only touches the header, the tag and the chunk headers.
