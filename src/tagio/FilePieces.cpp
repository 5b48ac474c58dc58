#include "tagio/FilePieces.h"

#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"

#include <algorithm>

SourceBytes::SourceBytes(const ByteSource& file) : m_file(&file), m_size(file.size()) {}

std::optional<QByteArray> SourceBytes::read(qint64 offset, qint64 length) const {
    if (!Bytes::fits(m_size, offset, length)) {
        return std::nullopt;
    }
    if (m_bytes != nullptr) {
        return m_bytes->mid(offset, length);
    }
    const auto inWindow = [&] {
        return m_windowStart >= 0 && offset >= m_windowStart &&
               Bytes::fits(m_window.size(), offset - m_windowStart, length);
    };
    if (!inWindow()) {
        if (length > smallRead) {
            return m_file->read(offset, length);
        }
        // The buffer is reused: mid() below hands out copies, never the window itself.
        m_window.resize(std::min(windowSize, m_size - offset));
        m_windowStart = m_file->readInto(m_window.data(), offset, m_window.size()) ? offset : -1;
        if (!inWindow()) {
            return std::nullopt;
        }
    }
    return m_window.mid(offset - m_windowStart, length);
}

void FilePieces::append(const QByteArray& bytes) {
    if (bytes.isEmpty()) {
        return;
    }
    m_pieces.append(Piece{bytes, -1, bytes.size()});
    m_size += bytes.size();
}

void FilePieces::copy(qint64 from, qint64 length) {
    if (length <= 0) {
        return;
    }
    if (!m_pieces.isEmpty() && m_pieces.last().isCopy() &&
        m_pieces.last().from + m_pieces.last().length == from) {
        m_pieces.last().length += length;
    } else {
        m_pieces.append(Piece{{}, from, length});
    }
    m_size += length;
}

void FilePieces::appendPieces(const FilePieces& other) {
    for (const Piece& piece : other.m_pieces) {
        piece.isCopy() ? copy(piece.from, piece.length) : append(piece.bytes);
    }
}

std::optional<QByteArray> FilePieces::read(qint64 offset, qint64 length, const SourceBytes& original) const {
    if (!Bytes::fits(m_size, offset, length)) {
        return std::nullopt;
    }
    QByteArray out;
    qint64 pieceStart = 0;
    for (const Piece& piece : m_pieces) {
        const qint64 pieceEnd = pieceStart + piece.length;
        const qint64 from = std::max(offset, pieceStart);
        const qint64 to = std::min(offset + length, pieceEnd);
        if (from < to) {
            if (piece.isCopy()) {
                const auto bytes = original.read(piece.from + (from - pieceStart), to - from);
                if (!bytes) {
                    return std::nullopt;
                }
                out.append(*bytes);
            } else {
                out.append(piece.bytes.constData() + (from - pieceStart), to - from);
            }
        }
        if (pieceEnd >= offset + length) {
            break;
        }
        pieceStart = pieceEnd;
    }
    return out;
}

std::optional<qint64> FilePieces::originOf(qint64 offset, qint64 length) const {
    qint64 pieceStart = 0;
    for (const Piece& piece : m_pieces) {
        const qint64 pieceEnd = pieceStart + piece.length;
        if (offset < pieceEnd) {
            if (piece.isCopy() && offset >= pieceStart && offset + length <= pieceEnd) {
                return piece.from + (offset - pieceStart);
            }
            return std::nullopt;
        }
        pieceStart = pieceEnd;
    }
    return std::nullopt;
}
