#include "services/FileScannerService.h"
#include "tagio/Bytes.h"
#include "tagio/UniversalTagReader.h"

#include "TestFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/statvfs.h>

namespace {

constexpr qint64 kFileSize = qint64(5) << 30;

QByteArray be32(uint32_t v) {
    QByteArray out;
    Bytes::appendU32BE(out, v);
    return out;
}

QByteArray le32(uint32_t v) {
    QByteArray out;
    Bytes::appendU32LE(out, v);
    return out;
}

QByteArray box(const char* type, uint32_t size, const QByteArray& payload = {}) {
    return be32(size) + QByteArray(type, 4) + payload;
}

} // namespace

// A header pointing into a 5 GB hole is read by the scan quickly and in little memory.
TEST(SparseFileBound, HeadersPointingIntoAHoleCostLittle) {
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
