#pragma once

// Shared by the reading and the writing side of the ID3v2 handler: random
// access to a tag or file, the chunk walk of AIFF and WAV files and the frame
// walk of a tag.

#include "model/AppError.h"
#include "model/Console.h"
#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/id3/ID3v2Handler.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <optional>
#include <variant>

namespace id3v2 {

using Range = ID3v2Handler::Range;

inline const QString readFailedText = QStringLiteral("Datei konnte nicht gelesen werden");

// Random access to a byte buffer or to a file by positioned reads. Small
// reads of a file are served from one cached block, so that walking chunk or
// frame headers costs few system calls.
class Input {
public:
    explicit Input(const QByteArray& bytes) : m_bytes(&bytes), m_size(bytes.size()) {}
    explicit Input(const ByteSource& source) : m_source(&source), m_size(source.size()) {}

    qint64 size() const { return m_size; }

    // Exactly `length` bytes at `offset`, or no value.
    std::optional<QByteArray> read(qint64 offset, qint64 length) const {
        if (!Bytes::fits(m_size, offset, length)) {
            return std::nullopt;
        }
        if (m_bytes != nullptr) {
            return m_bytes->mid(offset, length);
        }
        if (length <= smallRead) {
            if (m_blockStart < 0 || offset < m_blockStart ||
                !Bytes::fits(m_block.size(), offset - m_blockStart, length)) {
                m_blockStart = offset - offset % blockSize;
                m_block = m_source->readAtMost(m_blockStart, blockSize);
                if (!Bytes::fits(m_block.size(), offset - m_blockStart, length)) {
                    // The read crosses the end of the aligned block: start the block at the read.
                    m_blockStart = offset;
                    m_block = m_source->readAtMost(m_blockStart, blockSize);
                }
            }
            if (Bytes::fits(m_block.size(), offset - m_blockStart, length)) {
                return m_block.mid(offset - m_blockStart, length);
            }
            return std::nullopt;
        }
        return m_source->read(offset, length);
    }

    // The byte at `offset`, or -1 outside the input.
    int at(qint64 offset) const {
        const auto b = read(offset, 1);
        return b ? int(uint8_t(b->at(0))) : -1;
    }
    uint32_t u32BE(qint64 offset) const {
        const auto b = read(offset, 4);
        return b ? Bytes::u32BE(*b, 0) : 0;
    }
    uint32_t u32LE(qint64 offset) const {
        const auto b = read(offset, 4);
        return b ? Bytes::u32LE(*b, 0) : 0;
    }
    bool matches(qint64 offset, const QByteArray& expected) const {
        if (expected.isEmpty()) {
            return true;
        }
        const auto b = read(offset, expected.size());
        return b && *b == expected;
    }

private:
    static constexpr qint64 blockSize = 4096;
    static constexpr qint64 smallRead = 64;
    const QByteArray* m_bytes = nullptr;
    const ByteSource* m_source = nullptr;
    qint64 m_size = 0;
    mutable QByteArray m_block;
    mutable qint64 m_blockStart = -1;
};

inline bool isFrameIdChar(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
}

// ---------------------------------------------------------------------------
// Chunk walk of AIFF and WAV files

struct ChunkWalk {
    std::optional<Range> body; // the ID3 chunk's body, when found
    bool damaged = false;      // a chunk runs past the end, or stray bytes end the file
    bool missingPad = false;   // the last chunk has an odd size and no pad byte
};

ChunkWalk walkChunks(const Input& in, bool littleEndian);

// ---------------------------------------------------------------------------
// Frame walk

struct RawFrame {
    QByteArray id;
    qint64 pos = 0;      // offset of the frame header in the walked bytes
    qint64 size = 0;     // body size as chosen
    uint32_t sizeBE = 0; // the size bytes read big-endian
    uint32_t sizeSS = 0; // the size bytes read as a syncsafe value
    uint8_t status = 0;  // first flag byte
    uint8_t format = 0;  // second flag byte
    QByteArray body;
};

enum class WalkStop { running, end, padding, invalidId, overrun, badExtendedHeader };

// Walks the frames of one tag. Tag-level unsynchronisation of ID3v2.3 (and
// older) tags is undone first, so positions are offsets into the
// resynchronised tag. ID3v2.4 frame sizes are read with the syncsafe size
// unless it plainly does not land on a frame boundary.
//
// The tag is either held in memory or read from a file by positioned reads.
// From a file, only the frame headers are read (and the few bytes the
// ID3v2.4 size check looks at); a frame body is read when the caller asks for
// it (loadBody), so a picture frame is passed over without reading it. A tag
// with tag-level unsynchronisation cannot be walked in place and is read whole.
class FrameWalker {
public:
    // A tag held in memory; every frame comes with its body.
    explicit FrameWalker(const QByteArray& tag, bool log = false) : m_log(log), m_loadBodies(true) {
        m_owned = tag;
        m_in.emplace(m_owned);
        m_end = m_owned.size();
        start();
    }

    // The tag at `range` of a file; frames come without their body. Throws
    // AppError::tagReadFailed (naming `path`) when a read fails.
    FrameWalker(const ByteSource& source, Range range, const QString& path)
        : FrameWalker(Input(source), range, path) {}

    // The tag at `range` of an input (file or buffer); as above.
    FrameWalker(const Input& in, Range range, const QString& path, bool log = false)
        : m_log(log), m_loadBodies(false), m_path(path) {
        m_in.emplace(in);
        m_base = range.start;
        m_end = range.length();
        start();
    }

    // What a walk over a file holds in memory at most: a frame body it is
    // asked for, and a whole tag with tag-level unsynchronisation. A size
    // beyond these, as a damaged header may claim, is refused, not allocated.
    static constexpr qint64 maxLoadedBody = qint64(16) << 20;
    static constexpr qint64 maxHeldTag = qint64(64) << 20;

    FrameWalker(const FrameWalker&) = delete;
    FrameWalker& operator=(const FrameWalker&) = delete;

    int version() const { return m_version; }
    uint8_t flags() const { return m_flags; }
    qint64 pos() const { return m_pos; }
    qint64 end() const { return m_end; }
    WalkStop stop() const { return m_stop; }
    // True when tag-level unsynchronisation was undone: positions are then
    // offsets into the tag held in memory, not into the input.
    bool resynchronised() const { return m_resynchronised; }

    // Up to `length` walked bytes at `offset` (fewer at the end of the tag).
    QByteArray peek(qint64 offset, qint64 length) const {
        if (offset < 0 || offset >= m_end || length <= 0) {
            return {};
        }
        return bytesAt(offset, std::min(length, m_end - offset));
    }

    // True when any byte in [from, end) is not zero.
    bool nonZeroFrom(qint64 from) const { return from <= lastNonZero(); }

    std::optional<RawFrame> next() {
        if (m_stop != WalkStop::running) {
            return std::nullopt;
        }
        if (m_end - m_pos < 10) {
            m_stop = WalkStop::end;
            return std::nullopt;
        }
        const QByteArray header = bytesAt(m_pos, 10);
        if (header[0] == 0) {
            m_stop = WalkStop::padding;
            return std::nullopt;
        }
        if (!ID3v2Handler::isValidFrameID(header, 0)) {
            m_stop = WalkStop::invalidId;
            return std::nullopt;
        }
        RawFrame f;
        f.id = header.left(4);
        f.pos = m_pos;
        f.sizeBE = Bytes::u32BE(header, 4);
        f.sizeSS = ID3v2Handler::syncsafeDecode(header, 4);
        f.size = m_version == 4 ? chooseV24Size(f) : qint64(f.sizeBE);
        f.status = uint8_t(header[8]);
        f.format = uint8_t(header[9]);
        if (f.size > m_end - m_pos - 10) {
            m_stop = WalkStop::overrun;
            m_overrunFrame = f;
            return std::nullopt;
        }
        if (m_loadBodies) {
            loadBody(f);
        }
        m_pos += 10 + f.size;
        return f;
    }

    // Reads the body of a frame that next() gave.
    void loadBody(RawFrame& f) const {
        if (!m_loadBodies && f.size > maxLoadedBody) {
            throw AppError::tagReadFailed(m_path,
                                          QStringLiteral("ID3 frame '%1' too large to read (%2 bytes)")
                                              .arg(QString::fromLatin1(f.id))
                                              .arg(f.size));
        }
        f.body = bytesAt(f.pos + 10, f.size);
    }

    // The frame whose end ran past the tag (after WalkStop::overrun).
    const RawFrame& overrunFrame() const { return m_overrunFrame; }

private:
    void start() {
        if (m_end < 10) {
            m_stop = WalkStop::end;
            return;
        }
        const QByteArray header = bytesAt(0, 10);
        m_version = uint8_t(header[3]);
        m_flags = uint8_t(header[5]);
        if (m_version != 4 && (m_flags & 0x80)) {
            if (!m_loadBodies && m_end > maxHeldTag) {
                throw AppError::tagReadFailed(
                    m_path, QStringLiteral("ID3 tag too large to read (%1 bytes)").arg(m_end));
            }
            // Read once and resynchronised in that buffer: the tag is held once.
            m_owned = ID3v2Handler::removeUnsynchronisation(bytesAt(0, m_end), 10);
            m_in.emplace(m_owned);
            m_base = 0;
            m_end = m_owned.size();
            m_resynchronised = true;
        }
        m_pos = 10;
        if ((m_flags & 0x40) && m_end - 10 >= 4) {
            const QByteArray size = bytesAt(10, 4);
            const qint64 skip = m_version == 4 ? qint64(ID3v2Handler::syncsafeDecode(size, 0))
                                               : qint64(Bytes::u32BE(size, 0)) + 4;
            m_pos = 10 + skip;
            if (m_log) {
                Console::line(QStringLiteral("[ID3] Extended header skipped, frames start at offset ") +
                              QString::number(m_pos));
            }
            if (m_pos > m_end) {
                m_stop = WalkStop::badExtendedHeader;
            }
        }
    }

    // Exactly the walked bytes [offset, offset + length), which lie inside the tag.
    QByteArray bytesAt(qint64 offset, qint64 length) const {
        std::optional<QByteArray> bytes;
        if (Bytes::fits(m_end, offset, length)) {
            bytes = m_in->read(m_base + offset, length);
        }
        if (!bytes) {
            throw AppError::tagReadFailed(m_path, readFailedText);
        }
        return *std::move(bytes);
    }

    // The offset of the last byte that is not zero, or -1. Found on first use
    // by reading backwards from the end, so only the zeros at the end are read.
    qint64 lastNonZero() const {
        if (m_lastNonZero) {
            return *m_lastNonZero;
        }
        constexpr qint64 block = 4096;
        qint64 found = -1;
        for (qint64 p = m_end; p > 0 && found < 0;) {
            const qint64 length = std::min(p, block);
            p -= length;
            const QByteArray bytes = bytesAt(p, length);
            for (qint64 i = length - 1; i >= 0; --i) {
                if (bytes[i] != 0) {
                    found = p + i;
                    break;
                }
            }
        }
        m_lastNonZero = found;
        return found;
    }

    // A frame header (valid ID, either size reading fits) at p.
    bool frameHeaderAt(qint64 p) const {
        if (p < 0 || m_end - p < 10) {
            return false;
        }
        const QByteArray header = bytesAt(p, 10);
        if (!ID3v2Handler::isValidFrameID(header, 0)) {
            return false;
        }
        const qint64 room = m_end - p - 10;
        return qint64(Bytes::u32BE(header, 4)) <= room ||
               qint64(ID3v2Handler::syncsafeDecode(header, 4)) <= room;
    }

    // Whether a frame ending at p ends cleanly: the exact end, another frame
    // header, or zero padding that runs to the end.
    bool landsCleanly(qint64 p) const {
        if (p == m_end) {
            return true;
        }
        if (p > m_end) {
            return false;
        }
        return frameHeaderAt(p) || p > lastNonZero();
    }

    qint64 chooseV24Size(const RawFrame& f) const {
        if (f.sizeBE == f.sizeSS) {
            return f.sizeBE;
        }
        const qint64 ssNext = f.pos + 10 + qint64(f.sizeSS);
        const qint64 beNext = f.pos + 10 + qint64(f.sizeBE);
        bool useBE = false;
        if (!landsCleanly(ssNext) && beNext <= m_end) {
            if (beNext == m_end) {
                useBE = true;
            } else {
                const uint8_t c = uint8_t(bytesAt(beNext, 1)[0]);
                useBE = c == 0 || isFrameIdChar(c);
            }
        }
        const qint64 chosen = useBE ? qint64(f.sizeBE) : qint64(f.sizeSS);
        if (m_log) {
            Console::line(QStringLiteral("[ID3] v2.4 size heuristic ") + QString::fromLatin1(f.id) +
                          QStringLiteral(": sizeBE=") + QString::number(f.sizeBE) +
                          QStringLiteral(" sizeSS=") + QString::number(f.sizeSS) +
                          QStringLiteral(" → using ") + QString::number(chosen) +
                          QStringLiteral(" (beAligns=") +
                          (useBE ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral(")"));
        }
        return chosen;
    }

    bool m_log = false;
    bool m_loadBodies = true;
    QString m_path;
    QByteArray m_owned;        // the tag, when it is held in memory
    std::optional<Input> m_in; // reads m_owned or the file
    qint64 m_base = 0;         // offset of the tag in m_in
    bool m_resynchronised = false;
    int m_version = 0;
    uint8_t m_flags = 0;
    qint64 m_pos = 0;
    qint64 m_end = 0;
    mutable std::optional<qint64> m_lastNonZero;
    WalkStop m_stop = WalkStop::running;
    RawFrame m_overrunFrame;
};

// A frame in ID3v2.3 form: flags with their v2.3 meaning and the body as a
// v2.3 reader expects it.
struct V23Frame {
    uint8_t status = 0;
    uint8_t format = 0;
    QByteArray body;
};

// Converts a walked frame into its ID3v2.3 form, or gives the reason why it
// cannot be carried over faithfully. ID3v2.3 frames pass unchanged. The body
// is converted in its own buffer: a frame moved in is not copied.
std::variant<V23Frame, QString> toV23(RawFrame f, int version, uint8_t tagFlags);

// The text of a walked text frame, or no value when it cannot be decoded.
std::optional<QString> frameText(const RawFrame& f, int version, uint8_t tagFlags);

} // namespace id3v2
