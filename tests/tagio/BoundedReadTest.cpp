#include "TestFiles.h"
#include "tagio/Bytes.h"
#include "tagio/FLACHandler.h"
#include "tagio/GenreNames.h"
#include "tagio/ID3v2Handler.h"
#include "tagio/MP4Handler.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/UniversalTagWriter.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Growth of the peak resident memory, in MiB, while `read` runs in a child
// process (any exception it throws counts as a refusal); -1 when the child
// died before it could tell.
long peakGrowthMiB(const std::function<void()>& read) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        rusage before{};
        ::getrusage(RUSAGE_SELF, &before);
        try {
            read();
        } catch (...) {
        }
        rusage after{};
        ::getrusage(RUSAGE_SELF, &after);
        const long growth = (after.ru_maxrss - before.ru_maxrss) / 1024;
        const bool told = ::write(pipeFds[1], &growth, sizeof growth) == ssize_t(sizeof growth);
        ::_exit(told ? 0 : 1);
    }
    ::close(pipeFds[1]);
    long growth = -1;
    if (::read(pipeFds[0], &growth, sizeof growth) != ssize_t(sizeof growth)) {
        growth = -1;
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return growth;
}

// A file of `size` bytes that holds `head` at 0 and `pieces` at their
// offsets; the rest is a hole. False when the file system refuses the size.
bool makeSparse(const QString& path, qint64 size, const QByteArray& head,
                const QList<QPair<qint64, QByteArray>>& pieces = {}) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    bool ok = fd >= 0 && ::ftruncate(fd, size) == 0 &&
              ::pwrite(fd, head.constData(), size_t(head.size()), 0) == ssize_t(head.size());
    for (const auto& [offset, bytes] : pieces) {
        ok = ok && ::pwrite(fd, bytes.constData(), size_t(bytes.size()), offset) == ssize_t(bytes.size());
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

QByteArray atomHeader(uint32_t size, const char* type) {
    QByteArray out;
    Bytes::appendU32BE(out, size);
    return out + QByteArray(type, 4);
}

// A comment block of the largest size a FLAC header can describe, made of
// millions of three-byte entries.
QByteArray flacWithHugeCommentBlock() {
    constexpr uint32_t entries = 2390000;
    QByteArray body;
    body.reserve(8 + entries * 7);
    Bytes::appendU32LE(body, 0);
    Bytes::appendU32LE(body, entries);
    for (uint32_t i = 0; i < entries; ++i) {
        body.append("\x03\x00\x00\x00"
                    "A=b",
                    7);
    }
    QByteArray file("fLaC\x00\x00\x00\x22", 8);
    file += QByteArray(34, '\0');
    file += char(0x84);
    Bytes::appendU24BE(file, uint32_t(body.size()));
    return file + body;
}

struct Row {
    const char* name;
    AudioFormat format;
    qint64 size; // of the sparse file
    QByteArray head;
    QList<QPair<qint64, QByteArray>> pieces = {};
};

} // namespace

// Sizes written in a file never decide how much a read holds in memory: reads
// of files whose sizes point far into a hole, or that parse into millions of
// tiny entries, stay within a few dozen MiB (refusing where they must). The
// scan's read goes through the media layer too, which loads tags whole.
TEST(BoundedRead, SizesInTheFileDoNotDecideMemory) {
    constexpr qint64 gib = qint64(1) << 30;
    const QByteArray ftyp = atomHeader(16, "ftyp") + QByteArray("M4A \0\0\0\0", 8);
    const Row rows[] = {
        // Big-endian tag size of 3.75 GiB that "aligns" in the hole; the syncsafe one does not.
        {"be-size.mp3", AudioFormat::mp3, 10 + 0xF0000000LL + 1, QByteArray("ID3\x03\x00\x00\xF0\x00\x00\x00", 10),
         {{10 + (0x70LL << 21), QByteArray("\x01")}}},
        // A tag of 256 MiB of padding.
        {"padding.mp3", AudioFormat::mp3, 10 + 0x0FFFFFFFLL + 4096, QByteArray("ID3\x03\x00\x00\x7F\x7F\x7F\x7F", 10)},
        // moov of size 0 whose first child is damaged: the fall-back would read 5 GiB.
        {"moov.m4a", AudioFormat::m4a, 5 * gib, ftyp + atomHeader(0, "moov") + atomHeader(4, "free")},
        // A "©day" item that runs to the end of the file.
        {"item.m4a", AudioFormat::m4a, 5 * gib,
         ftyp + atomHeader(0, "moov") + atomHeader(0, "udta") + atomHeader(0, "meta") + QByteArray(4, '\0') +
             atomHeader(0, "ilst") + atomHeader(0, "\xA9"
                                                      "day")},
        {"comments.flac", AudioFormat::flac, 0, flacWithHugeCommentBlock()},
    };
    QTemporaryDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = dir.filePath(row.name);
        if (!makeSparse(path, std::max(row.size, qint64(row.head.size())), row.head, row.pieces)) {
            GTEST_SKIP() << "the file system here cannot hold a sparse file of " << row.size << " bytes";
        }
        // One child per read, so that memory the sanitizer holds back after
        // one read is not counted against the next.
        const std::function<void()> reads[] = {
            [&] { UniversalTagWriter().readTitleAndArtist(path, row.format); },
            [&] { UniversalTagWriter().readGenre(path, row.format); },
            [&] { UniversalTagReader().readYearDirect(path); },
            [&] { FLACHandler::readTags(path); },
            [&] { UniversalTagReader().readTags(path); },
        };
        for (const auto& read : reads) {
            const long growth = peakGrowthMiB(read);
            EXPECT_GE(growth, 0);
            EXPECT_LT(growth, 48);
        }
    }
}
