#include "tagio/ByteSource.h"
#include "tagio/FilePieces.h"
#include "tagio/ID3v2Handler.h"
#include "tagio/UniversalTagWriter.h"

#include "Id3Bytes.h"
#include "QtPrinters.h"
#include "TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using Id3Bytes::le32;

namespace {

using Kind = UniversalTagWriter::TemporaryKind;

const QString newGenre = QStringLiteral("House 80er");

// Everything in the folder, hidden files included.
QString folderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).join(QLatin1Char(' '));
}

} // namespace

TEST(FilePieces, JoinsRangesReadsAcrossPiecesAndTellsWhereBytesComeFrom) {
    const QByteArray original("0123456789");
    FilePieces pieces;
    pieces.copy(0, 2);
    pieces.copy(2, 2); // continues the range before
    pieces.append("ab");
    pieces.append({});
    pieces.copy(8, 2);
    pieces.copy(5, 0);
    ASSERT_EQ(pieces.pieces().size(), 3);
    EXPECT_EQ(pieces.size(), 8);
    EXPECT_EQ(pieces.materialise(original), QByteArray("0123ab89"));

    const SourceBytes source(original);
    const struct {
        qint64 offset, length;
        std::optional<QByteArray> bytes;
        std::optional<qint64> origin;
    } rows[] = {
        {0, 4, QByteArray("0123"), 0},          {3, 3, QByteArray("3ab"), std::nullopt},
        {4, 2, QByteArray("ab"), std::nullopt}, {6, 2, QByteArray("89"), 8},
        {7, 2, std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pieces.read(row.offset, row.length, source), row.bytes) << row.offset;
        EXPECT_EQ(pieces.originOf(row.offset, row.length), row.origin) << row.offset;
    }
}

// A write killed at any moment leaves the old or the new file, and nothing else; a whole
// write of a large file keeps the process's memory flat.
TEST(StreamedWrite, AKilledWriteLeavesTheOldOrTheNewFileAndNoLeftover) {
    QTemporaryDir dir;
    const qint64 size = qint64(256) << 20;
    struct statvfs fs {};
    if (::statvfs(QFile::encodeName(dir.path()).constData(), &fs) != 0 ||
        qint64(fs.f_bavail) * qint64(fs.f_frsize) < 3 * size) {
        GTEST_SKIP() << "not enough free disk space for a write of a 256 MB file";
    }
    const QString path = dir.filePath(QStringLiteral("mix.wav"));
    // Without an ID3 chunk; the sample data is a hole.
    const QByteArray head = "RIFF" + le32(uint32_t(size - 8)) + "WAVEfmt " + le32(16) +
                            QByteArray::fromHex("0100020044AC000010B1020004001000") + "data" +
                            le32(uint32_t(size - 44));
    const auto write = [&] {
        UniversalTagWriter().writeGenre(newGenre, 1987, {}, {}, path, AudioFormat::wav);
    };
    int old = 0;
    qint64 wholeWriteUs = 0; // measured by the first run, which is not killed
    for (const int percent : {-1, 5, 20, 40, 60, 80, 95}) {
        SCOPED_TRACE(percent);
        ASSERT_TRUE(TestFiles::writeSparse(path, head, size));
        QElapsedTimer timer;
        timer.start();
        if (percent < 0) {
            const long grownKiB = TestFiles::peakGrowthKiB(write);
            wholeWriteUs = timer.nsecsElapsed() / 1000;
            EXPECT_GE(grownKiB, 0);
            EXPECT_LT(grownKiB, 64 * 1024) << "the write grew the process by " << grownKiB / 1024 << " MB";
        } else if (const pid_t child = ::fork(); child == 0) {
            write();
            ::_exit(0);
        } else {
            ASSERT_GT(child, 0);
            ::usleep(useconds_t(wholeWriteUs * percent / 100));
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        EXPECT_EQ(folderEntries(dir.path()), QStringLiteral("mix.wav"));
        const bool unchanged = QFileInfo(path).size() == size;
        EXPECT_TRUE(percent >= 0 || !unchanged);
        EXPECT_EQ(ID3v2Handler::readGenre(path), unchanged ? std::nullopt : std::optional<QString>(newGenre));
        old += unchanged ? 1 : 0;
    }
    EXPECT_GT(old, 0) << "no kill landed before the rename";
}

// Ranges on another file system cannot be copied in the kernel: reads and writes copy them.
// With either kind of temporary file the extended attributes stay and nothing is left behind.
TEST(StreamedWrite, RangesTheKernelCannotCopyAreCopiedByReadsAndWrites) {
    QTemporaryDir other(QStringLiteral("/dev/shm/velmora-XXXXXX"));
    if (!other.isValid()) {
        GTEST_SKIP() << "no /dev/shm to hold a file on another file system";
    }
    QByteArray original(3 * 1024 * 1024 + 77, '\0');
    for (qsizetype i = 0; i < original.size(); ++i) {
        original[i] = char((i * 7919) >> 5);
    }
    TestFiles::writeFile(other.filePath(QStringLiteral("source")), original);
    FilePieces pieces;
    pieces.append("new head");
    pieces.copy(5, original.size() - 10);
    pieces.append("tail");
    pieces.copy(0, 3);
    const auto source = ByteSource::open(other.filePath(QStringLiteral("source")));
    ASSERT_TRUE(source);
    for (const Kind kind : {Kind::unnamedWhereSupported, Kind::named}) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("target.mp3"));
        const QByteArray native = QFile::encodeName(path);
        TestFiles::writeFile(path, "old");
        const bool xattrs = ::setxattr(native.constData(), "user.velmora.cue", "A1", 2, 0) == 0;
        UniversalTagWriter::atomicWrite(pieces, &*source, path, std::nullopt, kind);
        EXPECT_TRUE(TestFiles::readFile(path) == pieces.materialise(original));
        EXPECT_EQ(folderEntries(dir.path()), QStringLiteral("target.mp3"));
        char value[8] = {};
        EXPECT_TRUE(!xattrs || ::getxattr(native.constData(), "user.velmora.cue", value, sizeof value) == 2);
        EXPECT_EQ(QByteArray(value), xattrs ? QByteArray("A1") : QByteArray());
    }
}
