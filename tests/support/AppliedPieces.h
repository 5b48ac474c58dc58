#pragma once

#include "tagio/FilePieces.h"

#include <QByteArray>

// The new file that a handler's pieces describe over an original held whole
// in memory: how the tests and fuzzers see the result of a write without a
// file on disk. Header only, so that the fuzzers can use it too.
namespace AppliedPieces {

// The new file; copied ranges must lie inside `original`.
inline QByteArray apply(const FilePieces& pieces, const QByteArray& original) {
    QByteArray out;
    out.reserve(pieces.size());
    for (const FilePieces::Piece& piece : pieces.pieces()) {
        if (piece.isCopy()) {
            out.append(original.constData() + piece.from, piece.length);
        } else {
            out.append(piece.bytes);
        }
    }
    return out;
}

} // namespace AppliedPieces
