#include "Id3Bytes.h"
#include "TestFiles.h"
#include "services/FileScannerService.h"
#include "tagio/Bytes.h"
#include "tagio/FLACHandler.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/UniversalTagWriter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/statvfs.h>
#include <vector>

using Id3Bytes::be32;
using Id3Bytes::le32;

namespace {

// A FLAC comment block of the largest size a header can describe, of three-byte entries.
QByteArray flacWithHugeCommentBlock() {
    constexpr uint32_t entries = 2390000;
    QByteArray body(8, '\0');
    body[4] = char(entries & 0xFF), body[5] = char((entries >> 8) & 0xFF), body[6] = char(entries >> 16);
    for (uint32_t i = 0; i < entries; ++i) {
        body.append("\x03\x00\x00\x00"
                    "A=b",
                    7);
    }
    QByteArray file = QByteArray("fLaC\x00\x00\x00\x22", 8) + QByteArray(34, '\0') + char(0x84);
    Bytes::appendU24BE(file, uint32_t(body.size()));
    return file + body;
}

struct Row {
    const char* name;
    AudioFormat format;
    qint64 size; // of the file, a hole but for `head` and a byte 1 at `mark`
    QByteArray head;
    qint64 mark = 0;
    // Also written: the genre read back after the write, empty where the write is refused.
    std::optional<QString> genreAfterWrite = std::nullopt;
};

} // namespace

// Sizes pointing into a hole, or millions of tiny entries: reads and writes stay within a few dozen MiB.
TEST(BoundedRead, SizesInTheFileDoNotDecideMemory) {
    constexpr qint64 gib = qint64(1) << 30;
    const auto atom = [](char size, const char* type) {
        return QByteArray(3, '\0') + size + type;
    };
    const QByteArray moov = atom(16, "ftyp") + "M4A " + QByteArray(4, '\0') + atom(0, "moov");
    const Row rows[] = {
        // Big-endian tag size of 3.75 GiB that "aligns" in the hole; the syncsafe one does not.
        {"be-size.mp3", AudioFormat::mp3, 10 + 0xF0000000LL + 1, QByteArray("ID3\3\0\0\xF0\0\0\0", 10),
         10 + (0x70LL << 21)},
        // A tag of 256 MiB of padding.
        {"padding.mp3", AudioFormat::mp3, 10 + 0x0FFFFFFFLL + 4096,
         QByteArray("ID3\3\0\0\x7F\x7F\x7F\x7F", 10)},
        // moov of size 0 whose first child is damaged: the fall-back would read 5 GiB.
        {"moov.m4a", AudioFormat::m4a, 5 * gib, moov + atom(4, "free")},
        // A "©day" item that runs to the end of the file.
        {"item.m4a", AudioFormat::m4a, 5 * gib,
         moov + atom(0, "udta") + atom(0, "meta") + QByteArray(4, '\0') + atom(0, "ilst") +
             atom(0, "\xA9"
                     "day")},
        {"comments.flac", AudioFormat::flac, 0, flacWithHugeCommentBlock()},
        // A million 8-byte atoms in a moov whose walk ends in damage.
        {"atoms.m4a", AudioFormat::m4a, 0, moov + atom(8, "free").repeated(1000000) + atom(4, "free"), 0,
         QString()},
        // The same after a sound movie, at the top level of the file.
        {"top.m4a", AudioFormat::m4a, 0,
         moov.chopped(8) + atom(8, "moov") + atom(8, "free").repeated(1000000), 0, QStringLiteral("House")},
    };
    QTemporaryDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = dir.filePath(row.name);
        if (!TestFiles::writeSparse(path, row.head, row.size, row.mark)) {
            GTEST_SKIP() << "the file system here cannot hold a sparse file of " << row.size << " bytes";
        }
        // One child per read: memory the sanitizer holds back is not counted against the next.
        std::vector<std::function<void()>> reads = {
            [&] { UniversalTagWriter().readTitleAndArtist(path, row.format); },
            [&] { UniversalTagWriter().readGenre(path, row.format); },
            [&] { UniversalTagReader().readYearDirect(path); },
            [&] { FLACHandler::readTags(path); },
            [&] { UniversalTagReader().readTags(path); },
        };
        if (row.genreAfterWrite) { // last, so that the reads see the file as made
            reads.push_back(
                [&] { UniversalTagWriter().writeGenre("House", 1987, {}, {}, path, row.format); });
        }
        for (const auto& read : reads) {
            const long growth = TestFiles::peakGrowthKiB(read);
            EXPECT_GE(growth, 0);
            EXPECT_LT(growth, 48 * 1024);
        }
        if (row.genreAfterWrite && !row.genreAfterWrite->isEmpty()) {
            EXPECT_EQ(UniversalTagWriter().readGenre(path, row.format), row.genreAfterWrite);
        }
    }
}

// A header pointing into a 5 GB hole is read by the scan quickly and in little memory.
TEST(SparseFileBound, HeadersPointingIntoAHoleCostLittle) {
    constexpr qint64 kFileSize = qint64(5) << 30;
    const auto box = [](const char* type, uint32_t size, const QByteArray& payload = {}) {
        return be32(size) + QByteArray(type, 4) + payload;
    };
    QTemporaryDir dir;
    struct statvfs fs {};
    if (::statvfs(QFile::encodeName(dir.path()).constData(), &fs) != 0 ||
        qint64(fs.f_blocks) * qint64(fs.f_frsize) < kFileSize) {
        GTEST_SKIP() << "the temporary folder's file system is smaller than 5 GB";
    }
    const QByteArray streamInfo =
        QByteArray::fromHex("10001000000000000000") + be32(0x0AC44F00) + be32(44100) + QByteArray(16, '\0');
    const QByteArray aiffComm =
        QByteArray("COMM") + be32(18) + QByteArray::fromHex("0001000000010010400EAC44000000000000");
    const QByteArray wavFmt =
        QByteArray("fmt ") + le32(16) + QByteArray::fromHex("0100010044AC00008858010002001000");
    const struct {
        const char* name;
        QByteArray head;
    } rows[] = {
        {"size_bytes.mp3", QByteArray::fromHex("494433040000FFFFFFFE")},
        {"v22_size_bytes.mp3", QByteArray::fromHex("494433020000FFFFFFFE")},
        {"huge_frame.mp3",
         QByteArray::fromHex("4944330300007F7F7F7F") + "TXXX" + be32(0x0F000000) + QByteArray(2, '\0')},
        {"item_to_end.m4a",
         box("ftyp", 16, QByteArray("M4A \0\0\0\0", 8)) +
             box("moov", 0,
                 box("udta", 0, box("meta", 0, QByteArray(4, '\0') + box("ilst", 0, box("\xA9nam", 0)))))},
        {"comment_block.flac",
         "fLaC" + QByteArray::fromHex("00000022") + streamInfo + QByteArray::fromHex("84FFFFFF")},
        {"id3_chunk.aiff", "FORM" + be32(0xFFFFFFF0) + "AIFF" + aiffComm + "ID3 " + be32(0xFFFFFFF0) +
                               QByteArray::fromHex("4944330400007F7F7F7F")},
        {"chunks.wav", "RIFF" + le32(0xFFFFFFF0) + "WAVE" + wavFmt + "LIST" + le32(0xFFFFFFF0) + "INFO"},
    };
    const UniversalTagReader reader;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = dir.filePath(QLatin1String(row.name));
        if (!TestFiles::writeSparse(path, row.head, kFileSize)) {
            GTEST_SKIP() << "no room for a sparse 5 GB file";
        }
        QElapsedTimer timer;
        timer.start();
        const long kb = TestFiles::peakGrowthKiB([&] { FileScannerService().readFile(path, reader); });
        EXPECT_LT(timer.elapsed(), 1000);
        EXPECT_GE(kb, 0);
        EXPECT_LT(kb, 64 * 1024);
        QFile::remove(path);
    }
}
