#include "Id3Bytes.h"
#include "TestFiles.h"
#include "services/FileScannerService.h"
#include "tagio/Bytes.h"
#include "tagio/flac/FLACHandler.h"
#include "tagio/id3/ID3v2Handler.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/UniversalTagWriter.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

using Id3Bytes::be32;
using Id3Bytes::le32;

// Sizes pointing into a hole, or millions of tiny entries: reads, the scan and writes take a few
// dozen MiB from the file at most, far below the smallest hole (256 MiB), and hold no more.
TEST(BoundedReadTest, SizesInTheFileDoNotDecideMemory) {
    if (TestFiles::bytesReadSoFar() < 0) {
        GTEST_SKIP() << "the kernel here does not count the bytes a process reads";
    }
    constexpr qint64 gib = qint64(1) << 30;
    const auto atom = [](uint32_t size, const char* type, const QByteArray& payload = {}) {
        return be32(size) + QByteArray(type, 4) + payload;
    };
    const QByteArray moov = atom(16, "ftyp", QByteArray("M4A \0\0\0\0", 8)) + atom(0, "moov");
    // A sound movie, last in its file, grown by a free atom of 1.5 GiB inside it.
    const QByteArray plain = TestFiles::readFile(TestFiles::fixturePath("mp4/plain.m4a"));
    const qint64 movie = plain.lastIndexOf("moov") - 4;
    const QByteArray grown = plain.left(movie) + be32(uint32_t(plain.size() - movie + 0x60000000)) +
                             plain.mid(movie + 4) + atom(0x60000000, "free");
    // A FLAC comment block near the largest size a header can describe, of three-byte entries.
    const QByteArray comments =
        QByteArray(4, '\0') + le32(2390000) + QByteArray("\x03\0\0\0A=b", 7).repeated(2390000);
    const QByteArray streamInfo =
        QByteArray::fromHex("10001000000000000000") + be32(0x0AC44F00) + be32(44100) + QByteArray(16, '\0');
    QList<QPair<qint64, QByteArray>> commentHeaders;
    for (qint64 k = 0; k < 100; ++k) {
        commentHeaders.append(
            {42 + k * (4 + FLACHandler::maxBlockLength), k < 99 ? "\x04\xFF\xFF\xFF" : "\x84\xFF\xFF\xFF"});
    }
    const QByteArray wav = "RIFF" + le32(0xFFFFFFF0) + "WAVEfmt " + le32(16) +
                           QByteArray::fromHex("0100010044AC00008858010002001000");
    const struct Row {
        const char* name;
        AudioFormat format;
        qint64 size; // of the file, a hole but for `head` and `pieces` (0: just `head`)
        QByteArray head;
        // Also written: the genre read back after the write, empty where the write is refused.
        std::optional<QString> genreAfterWrite = std::nullopt;
        QList<QPair<qint64, QByteArray>> pieces = {};
    } rows[] = {
        // Big-endian tag size of 3.75 GiB that "aligns" in the hole; the syncsafe one does not.
        {"be-size.mp3",
         AudioFormat::mp3,
         10 + 0xF0000000LL + 1,
         QByteArray("ID3\3\0\0\xF0\0\0\0", 10),
         std::nullopt,
         {{10 + (0x70LL << 21), "\1"}}},
        // The same size bytes in a file of 5 GiB without the mark: no audio follows either tag.
        {"be-size-hole.mp3", AudioFormat::mp3, 5 * gib, QByteArray("ID3\3\0\0\xF0\0\0\0", 10), QString()},
        // A tag of 256 MiB of padding and no audio after it: the reader refuses it, and so does the write.
        {"padding.mp3", AudioFormat::mp3, 10 + 0x0FFFFFFFLL + 4096,
         QByteArray("ID3\3\0\0\x7F\x7F\x7F\x7F", 10), QString()},
        {"size_bytes.mp3", AudioFormat::mp3, 5 * gib, QByteArray::fromHex("494433040000FFFFFFFE")},
        {"v22_size_bytes.mp3", AudioFormat::mp3, 5 * gib, QByteArray::fromHex("494433020000FFFFFFFE")},
        {"huge_frame.mp3", AudioFormat::mp3, 5 * gib,
         QByteArray::fromHex("4944330300007F7F7F7F") + "TXXX" + be32(0x0F000000) + QByteArray(2, '\0')},
        // moov of size 0 whose first child is damaged: the fall-back would read 5 GiB.
        {"moov.m4a", AudioFormat::m4a, 5 * gib, moov + atom(4, "free")},
        // A "©day" item that runs to the end of the file.
        {"item.m4a", AudioFormat::m4a, 5 * gib,
         moov + atom(0, "udta") + atom(0, "meta") + QByteArray(4, '\0') + atom(0, "ilst") +
             atom(0, "\251day")},
        {"moov_atom.m4a", AudioFormat::m4a, grown.size() - 8 + 0x60000000, grown, QString()},
        // A million 8-byte atoms in a moov whose walk ends in damage.
        {"atoms.m4a", AudioFormat::m4a, 0, moov + atom(8, "free").repeated(1000000) + atom(4, "free"),
         QString()},
        // The same after a sound movie, at the top level of the file.
        {"top.m4a", AudioFormat::m4a, 0, plain + atom(8, "free").repeated(1000000), QStringLiteral("House")},
        // A movie without a sound track before 5 GiB of media: refused like the reader refuses it.
        {"silent.m4a", AudioFormat::m4a, 5 * gib, moov.chopped(8) + atom(8, "moov") + atom(0, "mdat"),
         QString()},
        {"comments.flac", AudioFormat::flac, 0,
         "fLaC" + QByteArray::fromHex("00000022") + QByteArray(34, '\0') + "\x84" +
             be32(comments.size()).mid(1) + comments},
        {"comment_block.flac", AudioFormat::flac, 5 * gib,
         "fLaC" + QByteArray::fromHex("00000022") + streamInfo + QByteArray::fromHex("84FFFFFF")},
        // Empty block headers all through a hole, and a hundred comment blocks of 16 MiB: the
        // writes are refused at a bound and at the second comment header.
        {"empty_blocks.flac", AudioFormat::flac, 5 * gib,
         "fLaC" + QByteArray::fromHex("00000022") + streamInfo, QString()},
        {"comment_blocks.flac", AudioFormat::flac, 42 + 100 * (4 + FLACHandler::maxBlockLength),
         "fLaC" + QByteArray::fromHex("00000022") + streamInfo, QString(), commentHeaders},
        {"id3_chunk.aiff", AudioFormat::aiff, 5 * gib,
         "FORM" + be32(0xFFFFFFF0) + "AIFF" + "COMM" + be32(18) +
             QByteArray::fromHex("0001000000010010400EAC44000000000000") + "ID3 " + be32(0xFFFFFFF0) +
             QByteArray::fromHex("4944330400007F7F7F7F")},
        {"chunks.wav", AudioFormat::wav, 44 + 0xFFFFFFF0LL, wav + "LIST" + le32(0xFFFFFFF0) + "INFO"},
        // An ID3 chunk too large to rewrite: the write is refused without reading it.
        {"id3_chunk.wav", AudioFormat::wav, 36 + 12 + ID3v2Handler::maxTagBodySize + 64,
         wav + "id3 " + le32(uint32_t(ID3v2Handler::maxTagBodySize + 64)) + "ID3\x03", QString()},
    };
    QTemporaryDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = dir.filePath(row.name);
        if (!TestFiles::writeSparse(path, row.head, row.size, row.pieces)) {
            GTEST_SKIP() << "the file system here cannot hold a sparse file of " << row.size << " bytes";
        }
        // One child per read: memory the sanitizer holds back is not counted against the next.
        std::vector<std::function<void()>> reads = {
            [&] { UniversalTagWriter().readTitleAndArtist(path, row.format); },
            [&] { UniversalTagWriter().readGenre(path, row.format); },
            [&] { UniversalTagReader().readYearDirect(path); },
            [&] { FLACHandler::readTags(path); },
            [&] { UniversalTagReader().readTags(path); },
            [&] { FileScannerService().readFile(path, UniversalTagReader()); },
        };
        if (row.genreAfterWrite) { // last, so that the reads see the file as made
            reads.push_back(
                [&] { UniversalTagWriter().writeGenre("House", 1987, {}, {}, path, row.format); });
        }
        for (const auto& read : reads) {
            const TestFiles::ChildCost cost = TestFiles::costInChild(read);
            EXPECT_GE(cost.peakGrowthKiB, 0);
            EXPECT_LT(cost.peakGrowthKiB, 48 * 1024);
            EXPECT_GE(cost.bytesRead, 0);
            EXPECT_LT(cost.bytesRead, 48 << 20); // a hole is skipped, not read
        }
        if (row.genreAfterWrite && !row.genreAfterWrite->isEmpty()) {
            EXPECT_EQ(UniversalTagWriter().readGenre(path, row.format), row.genreAfterWrite);
        } else if (row.genreAfterWrite) {
            EXPECT_EQ(QFileInfo(path).size(), std::max(row.size, qint64(row.head.size())));
        }
    }
}
