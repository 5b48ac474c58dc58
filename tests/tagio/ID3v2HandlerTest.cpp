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

TEST(ID3v2HandlerRead, ExtensionCaseSelectsContainer) {
    QTemporaryDir dir;
    const QString upper = TestFiles::copyFixture("id3/odd_chunks.aiff", dir, "Track.AIFF");
    EXPECT_EQ(ID3v2Handler::readGenre(upper), QStringLiteral("Techno"));
    // The same AIFF bytes under .mp3 hold no tag at offset 0.
    const QString asMp3 = TestFiles::copyFixture("id3/odd_chunks.aiff", dir, "Track.mp3");
    EXPECT_EQ(ID3v2Handler::readGenre(asMp3), std::nullopt);
    // "ID3\0" is an ID3 chunk name in AIFF only.
    const QString nulAsWav = TestFiles::copyFixture("id3/nul_id.aiff", dir, "x.wav");
    EXPECT_EQ(ID3v2Handler::readGenre(nulAsWav), std::nullopt);
    const QByteArray tag = Id3Bytes::tag(3, frame("TCON", text(0, "Jazz")));
    const QByteArray nulWav = wav({{"fmt ", wavFmt()}, {QByteArray("ID3\0", 4), tag}, {"data", audio(10)}});
    EXPECT_EQ(ID3v2Handler::findWAVChunk(nulWav), std::nullopt);
    EXPECT_EQ(ID3v2Handler::readGenre(put(dir, "n.wav", nulWav)), std::nullopt);
}

TEST(ID3v2HandlerRead, MissingFileThrowsTagReadFailed) {
    QTemporaryDir dir;
    const QString path = dir.filePath("gone.mp3");
    try {
        ID3v2Handler::readGenre(path);
        FAIL() << "no error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.kind(), AppError::Kind::tagReadFailed);
        EXPECT_EQ(e.url(), path);
    }
    EXPECT_THROW(ID3v2Handler::readYear(path), AppError);
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

TEST(ID3v2HandlerRead, TagSizeAlignmentRules) {
    const QByteArray body = frame("TCON", text(0, "Rock")) + QByteArray(20, '\0');
    const QByteArray exact = tag(3, body);
    EXPECT_TRUE(ID3v2Handler::sizeAligns(body.size(), exact));
    EXPECT_EQ(ID3v2Handler::parseTagHeader(exact), (Range{0, exact.size()}));
    EXPECT_FALSE(ID3v2Handler::sizeAligns(body.size() + 1, exact));
    EXPECT_FALSE(ID3v2Handler::sizeAligns(-11, exact));

    // Neither reading aligns: the syncsafe size, which here runs past the end: no tag.
    const QByteArray truncated = tag(3, body, 0, syncsafe(5000)) + "AAAA";
    EXPECT_EQ(ID3v2Handler::parseTagHeader(truncated), std::nullopt);
    EXPECT_EQ(ID3v2Handler::parseTagHeader(QByteArray("ID3\3\0\0\0\0")), std::nullopt);
    EXPECT_EQ(ID3v2Handler::parseTagHeader(QByteArray("XYZ\3\0\0\0\0\0\1AAAAAAAA")), std::nullopt);
}

// ---------------------------------------------------------------------------
// ID3v2.4 frame sizes.

TEST(ID3v2HandlerRead, V24FrameSizeTrustsSyncsafeOnAFrameBoundary) {
    // Size bytes 00 00 01 00: big-endian 256, syncsafe 128.
    const QByteArray sizeField = QByteArray::fromHex("00000100");

    // A writer that used big-endian sizes: the 256-byte body has 0x80 at
    // offset 128, and the next frame (TIT2) starts at 256.
    QByteArray body256(256, 'a');
    body256[0] = 0;
    body256[128] = char(0x80);
    QByteArray t = tag(4, frameWithSizeBytes("PRIV", sizeField, body256) +
                              frame("TCON", text(0, "Big"), true) + QByteArray(16, '\0'));
    EXPECT_EQ(ID3v2Handler::findGenreFrame(t), QStringLiteral("Big"));

    // A correct syncsafe 128-byte body followed by TCON, where the byte 256
    // bytes on happens to be 'T': the syncsafe size lands on TCON and wins.
    QByteArray body128(128, 'b');
    body128[0] = 0;
    QByteArray tcon = frame("TCON", text(0, "Small") + QByteArray(150, 'x'), true);
    tcon[256 - 128] = 'T';
    t = tag(4, frameWithSizeBytes("PRIV", sizeField, body128) + tcon + QByteArray(16, '\0'));
    EXPECT_EQ(ID3v2Handler::findGenreFrame(t), QString::fromLatin1(tcon.mid(11)));

    // A 200-byte COMM (00 00 01 48: syncsafe 200, big-endian 328) followed by
    // a short TCON and padding: big-endian would land in the padding and
    // swallow TCON.
    QByteArray comm(200, 'c');
    comm[0] = 0;
    t = tag(4, frame("COMM", comm, true) + frame("TCON", text(3, "Pad"), true) + QByteArray(400, '\0'));
    ASSERT_EQ(t.mid(14, 4), QByteArray::fromHex("00000148"));
    EXPECT_EQ(ID3v2Handler::findGenreFrame(t), QStringLiteral("Pad"));

    // An ID3v2.3 tag always uses big-endian sizes.
    t = tag(3, frameWithSizeBytes("PRIV", sizeField, body256) + frame("TCON", text(0, "V3")) +
                   QByteArray(8, '\0'));
    EXPECT_EQ(ID3v2Handler::findGenreFrame(t), QStringLiteral("V3"));
}

// ---------------------------------------------------------------------------
// Frame walk and text.

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

TEST(ID3v2HandlerRead, ChunkWalks) {
    const QByteArray tagBytes = tag(3, frame("TCON", text(0, "Deep")) + frame("TYER", text(0, "1984")));
    // The chunk body starts deep inside the file and reads as the same tag in an MP3.
    const QByteArray deep = wav({{"fmt ", wavFmt()}, {"data", audio(5001)}, {"id3 ", tagBytes}});
    const auto range = ID3v2Handler::findWAVChunk(deep);
    ASSERT_TRUE(range);
    EXPECT_GT(range->start, 5000);
    EXPECT_EQ(deep.mid(range->start, range->length()), tagBytes);

    QTemporaryDir dir;
    EXPECT_EQ(ID3v2Handler::readGenre(put(dir, "deep.wav", deep)), QStringLiteral("Deep"));
    EXPECT_EQ(ID3v2Handler::readYear(put(dir, "deep.wav", deep)), 1984);
    EXPECT_EQ(ID3v2Handler::readYear(put(dir, "same.mp3", tagBytes + audio(100))), 1984);

    const QByteArray deepAiff = aiff({{"COMM", aiffComm(5001)}, {"SSND", audio(5001)}, {"ID3 ", tagBytes}});
    EXPECT_EQ(ID3v2Handler::readGenre(put(dir, "deep.aif", deepAiff)), QStringLiteral("Deep"));

    // A chunk body that is not an ID3 tag gives nothing.
    const QByteArray notTag = wav({{"fmt ", wavFmt()}, {"id3 ", QByteArray("XYZ") + tagBytes.mid(3)}});
    EXPECT_TRUE(ID3v2Handler::findWAVChunk(notTag));
    EXPECT_EQ(ID3v2Handler::readGenre(put(dir, "nottag.wav", notTag)), std::nullopt);

    // The ID3 chunk runs past the end of the file.
    QByteArray cut = wav({{"fmt ", wavFmt()}, {"id3 ", tagBytes}});
    cut.chop(4);
    EXPECT_EQ(ID3v2Handler::findWAVChunk(cut), std::nullopt);
    // RF64 and a FORM that is really a RIFF are not walked.
    QByteArray rf64 = wav({{"id3 ", tagBytes}});
    rf64.replace(0, 4, "RF64");
    EXPECT_EQ(ID3v2Handler::findWAVChunk(rf64), std::nullopt);
    EXPECT_EQ(ID3v2Handler::findAIFFChunk(wav({{"ID3 ", tagBytes}})), std::nullopt);
    EXPECT_EQ(ID3v2Handler::findAIFFChunk(QByteArray("FORM\0\0\0\4AIF", 11)), std::nullopt);
}

// ---------------------------------------------------------------------------
// Bounded reads: sizes are checked against the real file, and the read path
// only touches the header, the tag and the chunk headers.

TEST(ID3v2HandlerRead, LargeSparseFilesAreReadByPositionedReads) {
    QTemporaryDir dir;
    const qint64 hole = qint64(3) << 30; // 3 GiB of audio that is never read
    const QByteArray tagBytes = tag(3, frame("TCON", text(0, "Sparse")) + frame("TYER", text(0, "1991")));

    // WAV: fmt, a 3 GiB data chunk (sparse), then the id3 chunk.
    const QString wavPath = dir.filePath("big.wav");
    {
        QFile f(wavPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const QByteArray head = QByteArray("RIFF") + le32(0xFFFFFFF0u) + "WAVE" +
                                chunk("fmt ", wavFmt(), true) + "data" + le32(uint32_t(hole));
        f.write(head);
        ASSERT_TRUE(f.seek(head.size() + hole));
        f.write(chunk("id3 ", tagBytes, true));
    }
    EXPECT_EQ(ID3v2Handler::readGenre(wavPath), QStringLiteral("Sparse"));
    EXPECT_EQ(ID3v2Handler::readYear(wavPath), 1991);

    // MP3: the tag at the start of a 3 GiB file.
    const QString mp3Path = dir.filePath("big.mp3");
    {
        QFile f(mp3Path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(tagBytes + audio(16));
        ASSERT_TRUE(f.resize(hole));
    }
    EXPECT_EQ(ID3v2Handler::readGenre(mp3Path), QStringLiteral("Sparse"));

    // A tag header claiming 256 MB in a small file is no tag, and nothing of that size is read.
    const QString liar = put(dir, "liar.mp3", tag(3, frame("TCON", text(0, "X")), 0, syncsafe(0x0FFFFFFF)));
    EXPECT_EQ(ID3v2Handler::readGenre(liar), std::nullopt);
    const auto source = ByteSource::open(liar);
    ASSERT_TRUE(source);
    EXPECT_EQ(ID3v2Handler::readTag(*source, liar), std::nullopt);
}

TEST(ID3v2HandlerRead, UnsynchronisationAndV24FrameFlagsAreUndoneForReading) {
    // v2.4 TCON with data-length indicator and per-frame unsynchronisation.
    // The text is FF 00 41; unsynchronised, FF 00 becomes FF 00 00.
    const QByteArray body = syncsafe(4) + QByteArray::fromHex("00FF000041");
    const QByteArray t = tag(4, frame("TCON", body, true, 0, 0x03));
    EXPECT_EQ(ID3v2Handler::findGenreFrame(t), QString::fromLatin1(QByteArray::fromHex("FF0041")));

    // Tag-level unsynchronisation in v2.3: 0xFF 0x00 pairs are removed before the walk.
    const QByteArray raw = frame("PRIV", QByteArray("\xFF\xE0\xFF", 3)) + frame("TCON", text(0, "Sync"));
    const QByteArray unsynced = QByteArray(raw).replace(QByteArray("\xFF", 1), QByteArray("\xFF\x00", 2));
    EXPECT_EQ(ID3v2Handler::findGenreFrame(tag(3, unsynced, 0x80)), QStringLiteral("Sync"));
    EXPECT_EQ(ID3v2Handler::removeUnsynchronisation(QByteArray::fromHex("FF00E0FF00FF")),
              QByteArray::fromHex("FFE0FFFF"));
}
