#include "tagio/ID3v2Handler.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "model/DecadeRule.h"
#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"

#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <variant>

namespace {

using Range = ID3v2Handler::Range;

const QString readFailedText = QStringLiteral("Datei konnte nicht gelesen werden");

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

bool isFrameIdChar(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
}

QString hexBytes(const QByteArray& bytes) {
    QStringList parts;
    for (const char c : bytes) {
        parts << QStringLiteral("%1").arg(uint8_t(c), 2, 16, QLatin1Char('0')).toUpper();
    }
    return parts.join(QLatin1Char(' '));
}

// ---------------------------------------------------------------------------
// Chunk walk of AIFF and WAV files

struct ChunkWalk {
    std::optional<Range> body; // the ID3 chunk's body, when found
    bool damaged = false;      // a chunk runs past the end, or stray bytes end the file
    bool missingPad = false;   // the last chunk has an odd size and no pad byte
};

constexpr qint64 maxChunks = 1000000;

bool isAiffId3Chunk(const QByteArray& id) {
    return id == QByteArrayLiteral("ID3 ") || id == QByteArray("ID3\0", 4);
}

bool isWavId3Chunk(const QByteArray& id) {
    return id.toLower() == QByteArrayLiteral("id3 ");
}

ChunkWalk walkChunks(const Input& in, bool littleEndian) {
    ChunkWalk walk;
    qint64 offset = 12;
    for (qint64 count = 0; count < maxChunks; ++count) {
        if (offset == in.size()) {
            return walk;
        }
        if (offset > in.size()) {
            walk.missingPad = true;
            return walk;
        }
        const auto id = in.read(offset, 4);
        if (!id || in.size() - offset < 8) {
            walk.damaged = true;
            return walk;
        }
        const qint64 size = littleEndian ? in.u32LE(offset + 4) : in.u32BE(offset + 4);
        const qint64 bodyStart = offset + 8;
        const bool isId3 = littleEndian ? isWavId3Chunk(*id) : isAiffId3Chunk(*id);
        if (size > in.size() - bodyStart) {
            walk.damaged = true;
            return walk;
        }
        if (isId3) {
            walk.body = Range{bodyStart, bodyStart + size};
            return walk;
        }
        offset = bodyStart + size + (size & 1);
    }
    walk.damaged = true;
    return walk;
}

std::optional<Range> findAiff(const Input& in) {
    if (in.size() < 12 || !in.matches(0, QByteArrayLiteral("FORM"))) {
        return std::nullopt;
    }
    return walkChunks(in, false).body;
}

std::optional<Range> findWav(const Input& in) {
    if (in.size() < 12 || !in.matches(0, QByteArrayLiteral("RIFF")) ||
        !in.matches(8, QByteArrayLiteral("WAVE"))) {
        return std::nullopt;
    }
    return walkChunks(in, true).body;
}

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
        : m_loadBodies(false), m_path(path) {
        m_in.emplace(source);
        m_base = range.start;
        m_end = range.length();
        start();
    }

    FrameWalker(const FrameWalker&) = delete;
    FrameWalker& operator=(const FrameWalker&) = delete;

    int version() const { return m_version; }
    uint8_t flags() const { return m_flags; }
    qint64 pos() const { return m_pos; }
    qint64 end() const { return m_end; }
    WalkStop stop() const { return m_stop; }

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
    void loadBody(RawFrame& f) const { f.body = bytesAt(f.pos + 10, f.size); }

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
            const QByteArray tag = bytesAt(0, m_end);
            m_owned = tag.left(10) + ID3v2Handler::removeUnsynchronisation(tag.mid(10));
            m_in.emplace(m_owned);
            m_base = 0;
            m_end = m_owned.size();
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
// cannot be carried over faithfully. ID3v2.3 frames pass unchanged.
std::variant<V23Frame, QString> toV23(const RawFrame& f, int version, uint8_t tagFlags) {
    if (version != 4) {
        return V23Frame{f.status, f.format, f.body};
    }
    if (f.format & 0x08) {
        return QStringLiteral("compressed ID3v2.4 frame '%1' cannot be carried over")
            .arg(QString::fromLatin1(f.id));
    }
    if (f.format & 0x04) {
        return QStringLiteral("encrypted ID3v2.4 frame '%1' cannot be carried over")
            .arg(QString::fromLatin1(f.id));
    }
    QByteArray body = f.body;
    if ((f.format & 0x02) || (tagFlags & 0x80)) {
        body = ID3v2Handler::removeUnsynchronisation(body);
    }
    QByteArray group;
    qint64 offset = 0;
    if (f.format & 0x40) {
        if (body.isEmpty()) {
            return QStringLiteral("damaged ID3v2.4 frame '%1'").arg(QString::fromLatin1(f.id));
        }
        group = body.left(1);
        offset = 1;
    }
    if (f.format & 0x01) {
        if (body.size() - offset < 4) {
            return QStringLiteral("damaged ID3v2.4 frame '%1'").arg(QString::fromLatin1(f.id));
        }
        offset += 4;
    }
    V23Frame out;
    out.status = uint8_t((f.status << 1) & 0xE0);
    out.format = (f.format & 0x40) ? 0x20 : 0x00;
    out.body = group + body.mid(offset);
    return out;
}

// The text of a text frame, or no value when it cannot be decoded.
std::optional<QString> frameText(const RawFrame& f, int version, uint8_t tagFlags) {
    const auto converted = toV23(f, version, tagFlags);
    if (!std::holds_alternative<V23Frame>(converted)) {
        return std::nullopt;
    }
    const V23Frame& frame = std::get<V23Frame>(converted);
    if (frame.format & 0xC0) { // compressed or encrypted
        return std::nullopt;
    }
    const qint64 start = (frame.format & 0x20) ? 1 : 0;
    if (frame.body.size() <= start) {
        return std::nullopt;
    }
    return ID3v2Handler::decodeText(frame.body.mid(start + 1), uint8_t(frame.body[start]));
}

// The year and genre frames of a tag, as findTextFrame({TYER, TDRC}) and
// findGenreFrame find them: the text of the first non-empty year frame (no
// value when it cannot be decoded) and the first decodable TCON text. The
// walk stops as soon as both are known; only their bodies are loaded.
struct YearGenreFrames {
    std::optional<QString> yearText;
    std::optional<QString> genre;
};

YearGenreFrames findYearAndGenreFrames(FrameWalker& walker, bool wantYear, bool wantGenre) {
    YearGenreFrames found;
    bool yearDone = !wantYear;
    bool genreDone = !wantGenre;
    while (!(yearDone && genreDone)) {
        auto frame = walker.next();
        if (!frame) {
            break;
        }
        if (frame->size == 0) {
            continue;
        }
        if (!yearDone && (frame->id == QByteArrayLiteral("TYER") || frame->id == QByteArrayLiteral("TDRC"))) {
            walker.loadBody(*frame);
            found.yearText = frameText(*frame, walker.version(), walker.flags());
            yearDone = true;
        } else if (!genreDone && frame->id == QByteArrayLiteral("TCON")) {
            walker.loadBody(*frame);
            if (auto text = frameText(*frame, walker.version(), walker.flags())) {
                found.genre = std::move(text);
                genreDone = true;
            }
        }
    }
    return found;
}

// The same from the tag of a file, by positioned reads; nothing when the
// file has no tag. Throws AppError::tagReadFailed when a read fails.
YearGenreFrames readYearAndGenreFrames(const ByteSource& source, const QString& path, bool wantYear,
                                       bool wantGenre) {
    const auto range = ID3v2Handler::locateTag(source, path);
    if (!range) {
        return {};
    }
    if (range->length() < 10) {
        return {};
    }
    const auto magic = source.read(range->start, 3);
    if (!magic) {
        throw AppError::tagReadFailed(path, readFailedText);
    }
    if (*magic != QByteArrayLiteral("ID3")) {
        return {};
    }
    FrameWalker walker(source, *range, path);
    return findYearAndGenreFrames(walker, wantYear, wantGenre);
}

std::optional<QString> decodeUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

// Strict UTF-16: an odd byte count or an unpaired surrogate fails.
std::optional<QString> decodeUtf16(const QByteArray& bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) {
        return std::nullopt;
    }
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const uint8_t a = uint8_t(bytes[2 * i]);
        const uint8_t b = uint8_t(bytes[2 * i + 1]);
        text[i] = QChar(bigEndian ? char16_t((a << 8) | b) : char16_t((b << 8) | a));
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate()) {
            if (i + 1 >= text.size() || !text[i + 1].isLowSurrogate()) {
                return std::nullopt;
            }
            ++i;
        } else if (text[i].isLowSurrogate()) {
            return std::nullopt;
        }
    }
    return text;
}

// ---------------------------------------------------------------------------
// Tag size of an MP3 tag

bool alignsIn(const Input& in, qint64 size) {
    const qint64 end = 10 + size;
    if (end < 1 || end > in.size()) {
        return false;
    }
    if (end == in.size()) {
        return true;
    }
    const int c = in.at(end);
    return c == 0x00 || c == 0x54 || c == 0xFF;
}

// True when the frames of the tag plainly run past the syncsafe size: a
// frame that fits the big-endian size ends beyond 10 + ss.
bool framesOutgrowSyncsafeSize(const Input& in, qint64 ss, qint64 be) {
    const auto bytes = in.read(0, 10 + be);
    if (!bytes) {
        return false;
    }
    FrameWalker walker(*bytes);
    while (const auto frame = walker.next()) {
        if (frame->pos + 10 + frame->size > 10 + ss) {
            return true;
        }
    }
    return false;
}

std::optional<Range> parseHeader(const Input& in) {
    if (in.size() < 10 || !in.matches(0, QByteArrayLiteral("ID3"))) {
        return std::nullopt;
    }
    const auto sizeBytes = in.read(6, 4);
    if (!sizeBytes) {
        return std::nullopt;
    }
    const qint64 ss = ID3v2Handler::syncsafeDecode(*sizeBytes, 0);
    const qint64 be = Bytes::u32BE(*sizeBytes, 0);
    qint64 size = ss;
    if (ss != be && !alignsIn(in, ss) && alignsIn(in, be) && framesOutgrowSyncsafeSize(in, ss, be)) {
        size = be;
    }
    if (size > in.size() - 10) {
        return std::nullopt;
    }
    return Range{0, 10 + size};
}

std::optional<Range> locate(const Input& in, const QString& path) {
    switch (ID3v2Handler::containerFor(path)) {
    case ID3v2Handler::Container::aiff:
        return findAiff(in);
    case ID3v2Handler::Container::wav:
        return findWav(in);
    case ID3v2Handler::Container::mp3:
        break;
    }
    return parseHeader(in);
}

// ---------------------------------------------------------------------------
// Writing helpers

[[noreturn]] void failWrite(const QString& path, const QString& text) {
    throw AppError::tagWriteFailed(path, text);
}

// The name of a container whose magic starts at `offset`, when it is not MPEG audio.
std::optional<QString> foreignContainerAt(const QByteArray& file, qint64 offset) {
    const Input in(file);
    if (in.matches(offset, QByteArrayLiteral("fLaC"))) {
        return QStringLiteral("FLAC");
    }
    if (in.matches(offset, QByteArrayLiteral("RIFF"))) {
        return QStringLiteral("RIFF");
    }
    if (in.matches(offset, QByteArrayLiteral("FORM"))) {
        return QStringLiteral("AIFF");
    }
    if (in.matches(offset, QByteArrayLiteral("OggS"))) {
        return QStringLiteral("Ogg");
    }
    if (in.matches(offset + 4, QByteArrayLiteral("ftyp"))) {
        return QStringLiteral("MP4");
    }
    static const QByteArray asf = QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C");
    if (in.matches(offset, asf)) {
        return QStringLiteral("ASF");
    }
    return std::nullopt;
}

QByteArray writeMp3(const QString& genre, std::optional<int> year, const std::optional<QString>& title,
                    const std::optional<QString>& artist, const QByteArray& file, const QString& path) {
    qint64 audioStart = 0;
    if (const auto tag = ID3v2Handler::parseTagHeader(file)) {
        const int version = uint8_t(file[3]);
        if (version != 3 && version != 4) {
            failWrite(path, QStringLiteral("ID3v2.%1 tag not supported").arg(version));
        }
        audioStart = tag->end;
        // An ID3v2.4 footer repeats the header after the tag; it goes with the old tag.
        if (version == 4 && (uint8_t(file[5]) & 0x10) &&
            Input(file).matches(audioStart, QByteArrayLiteral("3DI"))) {
            audioStart = std::min<qint64>(file.size(), audioStart + 10);
        }
    }
    if (const auto foreign = foreignContainerAt(file, audioStart)) {
        failWrite(path, QStringLiteral("Not an MP3 file (%1 data)").arg(*foreign));
    }
    const QByteArray newTag = ID3v2Handler::buildNewTag(file, genre, year, title, artist, path);
    QByteArray out;
    out.reserve(newTag.size() + file.size() - audioStart);
    out.append(newTag);
    out.append(file.constData() + audioStart, file.size() - audioStart);
    return out;
}

QByteArray writeChunked(bool aiff, const QString& genre, std::optional<int> year,
                        const std::optional<QString>& title, const std::optional<QString>& artist,
                        const QByteArray& file, const QString& path) {
    const QString invalid = aiff ? QStringLiteral("Invalid AIFF file") : QStringLiteral("Invalid WAV file");
    if (file.size() < 12) {
        failWrite(path, invalid);
    }
    const Input in(file);
    const bool magicOk =
        aiff ? in.matches(0, QByteArrayLiteral("FORM")) &&
                   (in.matches(8, QByteArrayLiteral("AIFF")) || in.matches(8, QByteArrayLiteral("AIFC")))
             : in.matches(0, QByteArrayLiteral("RIFF")) && in.matches(8, QByteArrayLiteral("WAVE"));
    if (!magicOk) {
        failWrite(path, invalid);
    }
    const ChunkWalk walk = walkChunks(in, !aiff);
    if (walk.damaged) {
        failWrite(path, invalid);
    }
    std::optional<QByteArray> oldTag;
    if (walk.body) {
        oldTag = file.mid(walk.body->start, walk.body->length());
    }
    const QByteArray newTag = ID3v2Handler::rebuildTag(oldTag, genre, year, title, artist, {}, path);
    const QByteArray chunkId = aiff ? QByteArrayLiteral("ID3 ") : QByteArrayLiteral("id3 ");
    const auto order = aiff ? ID3v2Handler::SizeOrder::bigEndian : ID3v2Handler::SizeOrder::littleEndian;

    // The container size field holds 32 bits: refuse before building an output it cannot describe.
    const qint64 chunkLength = 8 + newTag.size() + newTag.size() % 2;
    qint64 replaced = walk.missingPad ? -1 : 0; // bytes of the old file that the new chunk replaces
    if (walk.body) {
        replaced = std::min(file.size(), walk.body->end + walk.body->length() % 2) - (walk.body->start - 8);
    }
    if (chunkLength - replaced > ID3v2Handler::maxContainerFileSize - 1 - file.size()) {
        failWrite(path, QStringLiteral("File too large for the %1 container").arg(aiff ? "AIFF" : "WAV"));
    }

    QByteArray out;
    if (walk.body) {
        const qint64 s = walk.body->start;
        const qint64 e = walk.body->end;
        const qint64 after = e + ((e - s) % 2);
        out.append(file.constData(), s - 8);
        ID3v2Handler::appendChunk(out, chunkId, newTag, order);
        if (after < file.size()) {
            out.append(file.constData() + after, file.size() - after);
        }
    } else {
        out = file;
        if (walk.missingPad) {
            out.append('\0'); // the last chunk's pad byte, so that the new chunk starts where readers look
        }
        ID3v2Handler::appendChunk(out, chunkId, newTag, order);
    }
    const uint32_t containerSize = uint32_t(out.size() - 8);
    if (aiff) {
        Bytes::putU32BE(out, 4, containerSize);
    } else {
        out[4] = char(containerSize & 0xFF);
        out[5] = char((containerSize >> 8) & 0xFF);
        out[6] = char((containerSize >> 16) & 0xFF);
        out[7] = char((containerSize >> 24) & 0xFF);
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------------------

ID3v2Handler::Container ID3v2Handler::containerFor(const QString& path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == QLatin1String("aiff") || ext == QLatin1String("aif")) {
        return Container::aiff;
    }
    if (ext == QLatin1String("wav")) {
        return Container::wav;
    }
    return Container::mp3;
}

std::optional<QByteArray> ID3v2Handler::readTag(const ByteSource& source, const QString& path) {
    const auto range = locateTag(source, path);
    if (!range) {
        return std::nullopt;
    }
    auto bytes = source.read(range->start, range->length());
    if (!bytes) {
        throw AppError::tagReadFailed(path, readFailedText);
    }
    return bytes;
}

std::optional<int> ID3v2Handler::readYear(const QString& path) {
    const auto source = ByteSource::open(path);
    if (!source) {
        throw AppError::tagReadFailed(path, readFailedText);
    }
    const auto text = readYearAndGenreFrames(*source, path, true, false).yearText;
    return text ? extractYear(*text) : std::nullopt;
}

std::optional<QString> ID3v2Handler::readGenre(const QString& path) {
    Console::line(QStringLiteral("[TagIO] ID3v2Handler.readGenre: ") + QFileInfo(path).fileName());
    const auto source = ByteSource::open(path);
    if (!source) {
        throw AppError::tagReadFailed(path, readFailedText);
    }
    return readYearAndGenreFrames(*source, path, false, true).genre;
}

ID3v2Handler::YearAndGenre ID3v2Handler::readYearAndGenre(const ByteSource& source, const QString& path) {
    const YearGenreFrames frames = readYearAndGenreFrames(source, path, true, true);
    YearAndGenre out;
    if (frames.yearText) {
        out.year = extractYear(*frames.yearText);
    }
    out.genre = frames.genre;
    return out;
}

std::optional<ID3v2Handler::Range> ID3v2Handler::locateTag(const QByteArray& file, const QString& path) {
    return locate(Input(file), path);
}

std::optional<ID3v2Handler::Range> ID3v2Handler::locateTag(const ByteSource& source, const QString& path) {
    return locate(Input(source), path);
}

std::optional<ID3v2Handler::Range> ID3v2Handler::parseTagHeader(const QByteArray& file) {
    return parseHeader(Input(file));
}

std::optional<ID3v2Handler::Range> ID3v2Handler::parseTagHeader(const ByteSource& source) {
    return parseHeader(Input(source));
}

std::optional<ID3v2Handler::Range> ID3v2Handler::findAIFFChunk(const QByteArray& file) {
    return findAiff(Input(file));
}

std::optional<ID3v2Handler::Range> ID3v2Handler::findAIFFChunk(const ByteSource& source) {
    return findAiff(Input(source));
}

std::optional<ID3v2Handler::Range> ID3v2Handler::findWAVChunk(const QByteArray& file) {
    return findWav(Input(file));
}

std::optional<ID3v2Handler::Range> ID3v2Handler::findWAVChunk(const ByteSource& source) {
    return findWav(Input(source));
}

bool ID3v2Handler::sizeAligns(qint64 size, const QByteArray& file) {
    return alignsIn(Input(file), size);
}

std::optional<QString> ID3v2Handler::findTextFrame(const QSet<QByteArray>& ids, const QByteArray& tag) {
    if (tag.size() < 10 || !tag.startsWith("ID3")) {
        return std::nullopt;
    }
    FrameWalker walker(tag);
    while (const auto frame = walker.next()) {
        if (frame->size == 0 || !ids.contains(frame->id)) {
            continue;
        }
        return frameText(*frame, walker.version(), walker.flags());
    }
    return std::nullopt;
}

std::optional<QString> ID3v2Handler::findGenreFrame(const QByteArray& tag) {
    if (tag.size() < 10 || !tag.startsWith("ID3")) {
        return std::nullopt;
    }
    FrameWalker walker(tag);
    while (const auto frame = walker.next()) {
        if (frame->size == 0 || frame->id != QByteArrayLiteral("TCON")) {
            continue;
        }
        if (auto text = frameText(*frame, walker.version(), walker.flags())) {
            return text;
        }
    }
    return std::nullopt;
}

QList<ID3v2Handler::Frame> ID3v2Handler::listFrames(const QByteArray& tag) {
    QList<Frame> frames;
    if (tag.size() < 10 || !tag.startsWith("ID3")) {
        return frames;
    }
    FrameWalker walker(tag);
    while (const auto frame = walker.next()) {
        const auto converted = toV23(*frame, walker.version(), walker.flags());
        if (const V23Frame* v23 = std::get_if<V23Frame>(&converted)) {
            frames.append(Frame{frame->id, v23->status, v23->format, v23->body});
        }
    }
    return frames;
}

std::optional<QString> ID3v2Handler::decodeText(const QByteArray& bytes, uint8_t encoding) {
    switch (encoding) {
    case 0:
        return QString::fromLatin1(bytes);
    case 1:
        // The byte-order mark decides; without one, little-endian.
        if (bytes.startsWith("\xFE\xFF")) {
            return decodeUtf16(bytes.mid(2), true);
        }
        if (bytes.startsWith("\xFF\xFE")) {
            return decodeUtf16(bytes.mid(2), false);
        }
        return decodeUtf16(bytes, false);
    case 2:
        return decodeUtf16(bytes, true);
    default:
        return decodeUtf8(bytes);
    }
}

bool ID3v2Handler::isValidFrameID(const QByteArray& bytes, qint64 offset) {
    if (!Bytes::fits(bytes.size(), offset, 4)) {
        return false;
    }
    for (qint64 i = 0; i < 4; ++i) {
        if (!isFrameIdChar(uint8_t(bytes[offset + i]))) {
            return false;
        }
    }
    return true;
}

QByteArray ID3v2Handler::writeGenre(const QString& genre, std::optional<int> year,
                                    std::optional<QString> title, std::optional<QString> artist,
                                    const QByteArray& fileBytes, const QString& path) {
    switch (containerFor(path)) {
    case Container::aiff:
        return writeChunked(true, genre, year, title, artist, fileBytes, path);
    case Container::wav:
        return writeChunked(false, genre, year, title, artist, fileBytes, path);
    case Container::mp3:
        break;
    }
    return writeMp3(genre, year, title, artist, fileBytes, path);
}

QByteArray ID3v2Handler::buildNewTag(const QByteArray& file, const QString& genre, std::optional<int> year,
                                     const std::optional<QString>& title,
                                     const std::optional<QString>& artist, const QString& path) {
    if (const auto tag = parseTagHeader(file)) {
        return rebuildTag(file.mid(tag->start, tag->length()), genre, year, title, artist, {}, path);
    }
    QByteArray first;
    if (file.size() >= 128 && file.mid(file.size() - 128, 3) == QByteArrayLiteral("TAG")) {
        const qint64 base = file.size() - 128;
        const QString v1Title = readID3v1Field(file.mid(base + 3, 30));
        const QString v1Artist = readID3v1Field(file.mid(base + 33, 30));
        const QString v1Album = readID3v1Field(file.mid(base + 63, 30));
        const QString v1Year = readID3v1Field(file.mid(base + 93, 4));
        if (!title && !v1Title.isEmpty()) {
            first += buildTextFrame(QByteArrayLiteral("TIT2"), v1Title);
        }
        if (!artist && !v1Artist.isEmpty()) {
            first += buildTextFrame(QByteArrayLiteral("TPE1"), v1Artist);
        }
        if (!v1Album.isEmpty()) {
            first += buildTextFrame(QByteArrayLiteral("TALB"), v1Album);
        }
        bool isNumber = false;
        v1Year.toInt(&isNumber);
        if (!year && v1Year.size() == 4 && isNumber) {
            first += buildTextFrame(QByteArrayLiteral("TYER"), v1Year);
        }
        Console::line(QStringLiteral("[ID3] ID3v1 fallback: artist='") + v1Artist +
                      QStringLiteral("' album='") + v1Album + QStringLiteral("' year='") + v1Year +
                      QStringLiteral("'"));
    }
    return rebuildTag(std::nullopt, genre, year, title, artist, first, path);
}

QByteArray ID3v2Handler::rebuildTag(const std::optional<QByteArray>& oldTag, const QString& genre,
                                    std::optional<int> year, const std::optional<QString>& title,
                                    const std::optional<QString>& artist, const QByteArray& firstFrames,
                                    const QString& path) {
    QSet<QByteArray> dropped{QByteArrayLiteral("TCON")};
    if (year) {
        dropped << QByteArrayLiteral("TYER") << QByteArrayLiteral("TDRC");
    }
    if (title) {
        dropped << QByteArrayLiteral("TIT2");
    }
    if (artist) {
        dropped << QByteArrayLiteral("TPE1");
    }

    QByteArray frames = firstFrames;
    if (oldTag && oldTag->size() >= 10) {
        const QByteArray& tag = *oldTag;
        const int version = uint8_t(tag[3]);
        const uint8_t flags = uint8_t(tag[5]);
        Console::line(QStringLiteral("[ID3] Parsing tag: version=2.") + QString::number(version) +
                      QStringLiteral(", tagBytes=") + QString::number(tag.size()) +
                      QStringLiteral(", flags=0x") +
                      QStringLiteral("%1").arg(flags, 2, 16, QLatin1Char('0')).toUpper());
        if (!tag.startsWith("ID3")) {
            failWrite(path, QStringLiteral("The ID3 chunk does not hold an ID3v2 tag"));
        }
        if (version != 3 && version != 4) {
            failWrite(path, QStringLiteral("ID3v2.%1 tag not supported").arg(version));
        }
        FrameWalker walker(tag, true);
        int kept = 0;
        while (const auto frame = walker.next()) {
            const QString id = QString::fromLatin1(frame->id);
            if (dropped.contains(frame->id)) {
                Console::line(QStringLiteral("[ID3] Skipped ") + id + QStringLiteral(" size=") +
                              QString::number(frame->size) + QStringLiteral(" (will write fresh)"));
                continue;
            }
            const auto converted = toV23(*frame, walker.version(), walker.flags());
            if (const QString* reason = std::get_if<QString>(&converted)) {
                Console::line(QStringLiteral("[ID3] Cannot keep ") + id + QStringLiteral(": ") + *reason);
                failWrite(path, QStringLiteral("Cannot rewrite the ID3 tag: ") + *reason);
            }
            const V23Frame& v23 = std::get<V23Frame>(converted);
            frames += frame->id;
            Bytes::appendU32BE(frames, uint32_t(v23.body.size()));
            frames += char(v23.status);
            frames += char(v23.format);
            frames += v23.body;
            Console::line(QStringLiteral("[ID3] Kept   ") + id + QStringLiteral("  size=") +
                          QString::number(frame->size));
            ++kept;
            if (frames.size() >= maxTagBodySize) {
                failWrite(path, QStringLiteral("ID3 tag too large"));
            }
        }
        switch (walker.stop()) {
        case WalkStop::padding:
            Console::line(QStringLiteral("[ID3] Hit padding at offset ") + QString::number(walker.pos()) +
                          QStringLiteral(", stopping"));
            break;
        case WalkStop::invalidId:
            Console::line(QStringLiteral("[ID3] Invalid frame ID at offset ") +
                          QString::number(walker.pos()) + QStringLiteral(": ") +
                          hexBytes(walker.peek(walker.pos(), 4)) + QStringLiteral(" → stopping copy"));
            if (walker.nonZeroFrom(walker.pos() + 4)) {
                failWrite(path,
                          QStringLiteral("Damaged ID3 tag: invalid frame ID at offset %1").arg(walker.pos()));
            }
            break;
        case WalkStop::overrun: {
            const RawFrame& f = walker.overrunFrame();
            Console::line(QStringLiteral("[ID3] Frame '") + QString::fromLatin1(f.id) +
                          QStringLiteral("' end ") + QString::number(f.pos + 10 + f.size) +
                          QStringLiteral(" > tag end ") + QString::number(walker.end()) +
                          QStringLiteral(" → stopping copy"));
            failWrite(path, QStringLiteral("Damaged ID3 tag: frame '%1' runs past the end of the tag")
                                .arg(QString::fromLatin1(f.id)));
        }
        case WalkStop::badExtendedHeader:
            failWrite(path, QStringLiteral("Damaged ID3 tag: extended header runs past the end of the tag"));
        case WalkStop::end:
        case WalkStop::running:
            break;
        }
        Console::line(QStringLiteral("[ID3] Frame copy done: ") + QString::number(kept) +
                      QStringLiteral(" frames kept, offset=") + QString::number(walker.pos()) +
                      QStringLiteral("/") + QString::number(walker.end()));
    }

    frames += buildTextFrame(QByteArrayLiteral("TCON"), genre);
    if (year) {
        frames += buildTextFrame(QByteArrayLiteral("TYER"), QString::number(*year));
    }
    if (title) {
        frames += buildTextFrame(QByteArrayLiteral("TIT2"), *title);
    }
    if (artist) {
        frames += buildTextFrame(QByteArrayLiteral("TPE1"), *artist);
    }
    if (frames.size() + paddingSize >= maxTagBodySize) {
        failWrite(path, QStringLiteral("ID3 tag too large"));
    }
    frames.append(QByteArray(paddingSize, '\0'));

    QByteArray out;
    out.reserve(10 + frames.size());
    out += QByteArrayLiteral("ID3");
    out += char(0x03);
    out += char(0x00);
    out += char(0x00);
    out += syncsafeEncode(uint32_t(frames.size()));
    out += frames;
    return out;
}

QByteArray ID3v2Handler::buildTextFrame(const QByteArray& id, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(11 + utf8.size());
    out += id.left(4);
    Bytes::appendU32BE(out, uint32_t(1 + utf8.size()));
    out += char(0x00);
    out += char(0x00);
    out += char(0x03);
    out += utf8;
    return out;
}

void ID3v2Handler::appendChunk(QByteArray& out, const QByteArray& id, const QByteArray& body,
                               SizeOrder order) {
    out += id.left(4);
    if (order == SizeOrder::bigEndian) {
        Bytes::appendU32BE(out, uint32_t(body.size()));
    } else {
        Bytes::appendU32LE(out, uint32_t(body.size()));
    }
    out += body;
    if (body.size() % 2 != 0) {
        out += char(0x00);
    }
}

QByteArray ID3v2Handler::syncsafeEncode(uint32_t size) {
    QByteArray out(4, '\0');
    out[0] = char((size >> 21) & 0x7F);
    out[1] = char((size >> 14) & 0x7F);
    out[2] = char((size >> 7) & 0x7F);
    out[3] = char(size & 0x7F);
    return out;
}

uint32_t ID3v2Handler::syncsafeDecode(const QByteArray& bytes, qint64 offset) {
    if (!Bytes::fits(bytes.size(), offset, 4)) {
        return 0;
    }
    return (uint32_t(uint8_t(bytes[offset]) & 0x7F) << 21) |
           (uint32_t(uint8_t(bytes[offset + 1]) & 0x7F) << 14) |
           (uint32_t(uint8_t(bytes[offset + 2]) & 0x7F) << 7) | uint32_t(uint8_t(bytes[offset + 3]) & 0x7F);
}

QString ID3v2Handler::readID3v1Field(const QByteArray& bytes) {
    const QString text = QString::fromLatin1(bytes);
    qsizetype start = 0;
    qsizetype end = text.size();
    const auto trimmed = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QChar(0);
    };
    while (start < end && trimmed(text[start])) {
        ++start;
    }
    while (end > start && trimmed(text[end - 1])) {
        --end;
    }
    return text.mid(start, end - start);
}

QByteArray ID3v2Handler::removeUnsynchronisation(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        out += bytes[i];
        if (uint8_t(bytes[i]) == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == 0) {
            ++i;
        }
    }
    return out;
}
