#include "tagio/FilePieces.h"

#include "AppliedPieces.h"
#include "QtPrinters.h"
#include "tagio/ByteSource.h"

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
