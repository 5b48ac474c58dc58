#include "tagio/Bytes.h"
#include "tagio/FLACHandler.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/UniversalTagWriter.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "TestFiles.h"

#include <vector>

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
