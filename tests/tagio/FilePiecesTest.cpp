#include "tagio/FilePieces.h"

#include "AppliedPieces.h"
#include "QtPrinters.h"
#include "TestFiles.h"
#include "tagio/ByteSource.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(FilePiecesTest, JoinsRangesReadsAcrossPiecesAndTellsWhereBytesComeFrom) {
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
    EXPECT_EQ(AppliedPieces::apply(pieces, original), QByteArray("0123ab89"));

    const SourceBytes source(original);
    const struct {
        qint64 offset, length;
        std::optional<QByteArray> bytes;
        std::optional<qint64> origin;
    } rows[] = {
        {0, 4, QByteArray("0123"), 0},          {3, 3, QByteArray("3ab"), std::nullopt},
        {4, 2, QByteArray("ab"), std::nullopt}, {5, 2, QByteArray("b8"), std::nullopt}, {6, 2, QByteArray("89"), 8},
        {7, 2, std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pieces.read(row.offset, row.length, source), row.bytes) << row.offset;
        EXPECT_EQ(pieces.originOf(row.offset, row.length), row.origin) << row.offset;
    }
}

// A read of the file that fails leaves no window behind: the next small read, also of bytes the
// window held, reads the file again and gives no value while the file fails, never bytes of
// another place or of the window before (a tag built from them would be written to the file).
TEST(FilePiecesTest, AFailedReadLeavesNoWindowBehind) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.mp3"));
    QByteArray bytes(6000, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        bytes[i] = char('a' + i % 26);
    }
    TestFiles::writeFile(path, bytes);
    const auto file = ByteSource::open(path);
    ASSERT_TRUE(file);
    const SourceBytes source(*file);
    EXPECT_EQ(source.read(10, 4), bytes.mid(10, 4));
    ASSERT_TRUE(QFile::resize(path, 0)); // every read of the file fails from here on
    EXPECT_EQ(source.read(5000, 4), std::nullopt);
    EXPECT_EQ(source.read(12, 2), std::nullopt);
}
