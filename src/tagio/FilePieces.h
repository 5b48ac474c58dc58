#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

class ByteSource;

// The file a tag write starts from: held in memory (tests, fuzzing) or read
// from the open file by positioned reads. Reads of a few bytes, and reads that
// lie wholly inside the bytes last fetched, are served from one cached window
// of a page, so that walking headers costs few system calls; the window is
// small because a header often lies behind a large body (a picture, padding)
// and then costs a read of its own.
class SourceBytes {
public:
    explicit SourceBytes(const QByteArray& bytes) : m_bytes(&bytes), m_size(bytes.size()) {}
    explicit SourceBytes(const ByteSource& file);

    qint64 size() const { return m_size; }
    // Exactly `length` bytes at `offset`, or no value when they do not all
    // lie inside the file or the read fails.
    std::optional<QByteArray> read(qint64 offset, qint64 length) const;

    // The one of the two that holds the bytes.
    const QByteArray* memory() const { return m_bytes; }
    const ByteSource* file() const { return m_file; }

private:
    static constexpr qint64 windowSize = 4 * 1024;
    static constexpr qint64 smallRead = 64;
    const QByteArray* m_bytes = nullptr;
    const ByteSource* m_file = nullptr;
    qint64 m_size = 0;
    mutable QByteArray m_window;
    mutable qint64 m_windowStart = -1;
};

// A new file described as a short list of pieces: new bytes, and ranges of
// the original copied unchanged. The tag handlers build it; the writer streams
// it into the replacement file.
class FilePieces {
public:
    struct Piece {
        QByteArray bytes;  // new bytes, when `from` < 0
        qint64 from = -1;  // start of the copied range of the original
        qint64 length = 0; // length of the piece in the new file
        bool isCopy() const { return from >= 0; }
    };

    // Empty pieces are left out; a range that continues the previous one joins it.
    void append(const QByteArray& bytes);
    void copy(qint64 from, qint64 length);
    // The pieces of `other` (of the same original), in turn.
    void appendPieces(const FilePieces& other);

    const QList<Piece>& pieces() const { return m_pieces; }
    qint64 size() const { return m_size; }

    // Bytes [offset, offset + length) of the new file, copied ranges read from
    // `original`; no value when they do not all lie inside the new file or a read fails.
    std::optional<QByteArray> read(qint64 offset, qint64 length, const SourceBytes& original) const;

    // Where in the original the bytes [offset, offset + length) of the new
    // file come from, when one copied range holds all of them.
    std::optional<qint64> originOf(qint64 offset, qint64 length) const;

private:
    QList<Piece> m_pieces;
    qint64 m_size = 0;
};
