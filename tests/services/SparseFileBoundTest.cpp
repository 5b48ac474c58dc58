#include "services/FileScannerService.h"
#include "tagio/Bytes.h"
#include "tagio/UniversalTagReader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Seconds and peak resident kilobytes of a child process running `read`.
std::pair<double, long> costInChild(const std::function<void()>& read) {
    QElapsedTimer timer;
    timer.start();
    const pid_t child = ::fork();
    if (child == 0) {
        read();
        ::_exit(0);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(child, &status, 0, &usage);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return {timer.nsecsElapsed() / 1e9, usage.ru_maxrss};
}

} // namespace

// A file whose header points into a 5 GB hole (a tag size, a chunk, block or
// atom size, an atom running to the end) is read quickly and in little
// memory, whatever the sizes claim.
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
    const auto [idleSeconds, idleKb] = costInChild([] {});
    const UniversalTagReader reader;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = dir.filePath(QLatin1String(row.name));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(row.head) == row.head.size());
        if (!file.resize(kFileSize)) {
            GTEST_SKIP() << "no room for a sparse 5 GB file";
        }
        file.close();
        const auto [seconds, kb] = costInChild([&] { FileScannerService().readFile(path, reader); });
        EXPECT_LT(seconds - idleSeconds, 1.0);
        EXPECT_LT(kb - idleKb, 64 * 1024);
        QFile::remove(path);
    }
}
