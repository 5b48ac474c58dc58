#include "tagio/id3/ID3v2Handler.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/FilePieces.h"
#include "tagio/id3/ID3v2Frames.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <utility>
#include <variant>

using namespace id3v2;

namespace {

QByteArray latin1Frame(const char* id, const QString& digits) {
    QByteArray out(id, 4);
    Bytes::appendU32BE(out, uint32_t(1 + digits.size()));
    out += QByteArray(3, '\0'); // flags, then encoding 0
    out += digits.toLatin1();
    return out;
}

// The ID3v2.3 frames for a date "yyyy[-MM[-dd[THH[:mm[:ss]]]]]": TYER, TDAT
// ("DDMM") when it has a day and TIME ("HHMM") when it has hour and minute.
// Empty when the text is no such date.
QByteArray v23DateFrames(const QString& date) {
    static const QRegularExpression form(QStringLiteral(
        "^([0-9]{4})(?:-([0-9]{2})(?:-([0-9]{2})(?:T([0-9]{2})(?::([0-9]{2})(?::[0-9]{2})?)?)?)?)?$"));
    const QRegularExpressionMatch m = form.match(date);
    if (!m.hasMatch()) {
        return {};
    }
    QByteArray out = latin1Frame("TYER", m.captured(1));
    if (m.hasCaptured(3)) {
        out += latin1Frame("TDAT", m.captured(3) + m.captured(2));
    }
    if (m.hasCaptured(5)) {
        out += latin1Frame("TIME", m.captured(4) + m.captured(5));
    }
    return out;
}

// The same for the first value of an ID3v2.4 TDRC frame; empty also when the
// frame is compressed or encrypted, and the frame is kept as it is.
QByteArray v23DateFrames(const V23Frame& frame) {
    const qint64 start = (frame.format & 0x20) ? 1 : 0;
    if ((frame.format & 0xC0) || frame.body.size() <= start) {
        return {};
    }
    const std::optional<QString> text =
        ID3v2Handler::decodeTextStrict(frame.body.mid(start + 1), uint8_t(frame.body[start]));
    return v23DateFrames(text ? text->section(QChar(0), 0, 0) : QString());
}

QString hexBytes(const QByteArray& bytes) {
    QStringList parts;
    for (const char c : bytes) {
        parts << QStringLiteral("%1").arg(uint8_t(c), 2, 16, QLatin1Char('0')).toUpper();
    }
    return parts.join(QLatin1Char(' '));
}

// ---------------------------------------------------------------------------
// Writing helpers

[[noreturn]] void failWrite(const QString& path, const QString& text) {
    throw AppError::tagWriteFailed(path, text);
}

// The name of a container whose magic starts at `offset`, when it is not MPEG audio.
std::optional<QString> foreignContainerAt(const Input& in, qint64 offset) {
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

Input inputOf(const SourceBytes& file) {
    return file.memory() != nullptr ? Input(*file.memory()) : Input(*file.file());
}

QByteArray readOrFail(const Input& in, Range range, const QString& path) {
    auto bytes = in.read(range.start, range.length());
    if (!bytes) {
        failWrite(path, QStringLiteral("The file could not be read"));
    }
    return *std::move(bytes);
}

// The bytes of an ID3v2.4 frame body that its conversion to ID3v2.3 changes
// (a group byte and a data length indicator); without unsynchronisation the
// rest of the body passes unchanged.
constexpr qint64 convertedHead = 5;
// A body at least this large that passes unchanged is copied from the old
// file, not read.
constexpr qint64 copiedBody = 64 * 1024;

QString heldTooLarge(qint64 bytes) {
    return QStringLiteral("ID3 tag too large to rewrite: %1 bytes of it would be held in memory "
                          "(unsynchronised or converted frames, at most 64 MiB)")
        .arg(bytes);
}

// A new tag as it is built: new bytes, gathered into one piece until a range
// of the old file follows, and those ranges; the header goes in front once
// the size is known.
class NewTag {
public:
    // A large body becomes a piece of its own: it is not copied again.
    void append(QByteArray bytes) {
        if (bytes.size() < copiedBody) {
            m_bytes += bytes;
        } else {
            flush();
            m_held += bytes.size();
            m_frames.append(std::move(bytes));
        }
    }
    void copy(qint64 from, qint64 length) {
        if (length > 0) {
            flush();
            m_frames.copy(from, length);
        }
    }
    // New bytes held in memory so far.
    qint64 held() const { return m_held + m_bytes.size(); }
    // Frames and padding so far.
    qint64 size() const { return m_frames.size() + m_bytes.size(); }

    FilePieces finish() && {
        flush();
        FilePieces out;
        out.append(QByteArrayLiteral("ID3\x03\x00\x00") + ID3v2Handler::syncsafeEncode(uint32_t(size())));
        out.appendPieces(m_frames);
        return out;
    }

private:
    void flush() {
        m_held += m_bytes.size();
        m_frames.append(std::exchange(m_bytes, QByteArray()));
    }

    FilePieces m_frames;
    QByteArray m_bytes;
    qint64 m_held = 0;
};

// Appends the frames of the old tag at `range` of `in` that the write keeps,
// in ID3v2.3 form. A frame whose body passes unchanged (every ID3v2.3 frame
// but in a tag unsynchronised as a whole, an ID3v2.4 frame without
// unsynchronisation) is held while it is small and fits within 64 MiB of
// held bytes; otherwise its body (an ID3v2.3 frame with its header) is a
// range of the old file. The rest are read and converted, at most 64 MiB of
// them: only those count against the bound.
void keepFrames(NewTag& tag, const Input& in, Range range, const QSet<QByteArray>& dropped,
                const QString& path) {
    FrameWalker walker(in, range, path, true);
    const int version = walker.version();
    int kept = 0;
    qint64 converted = 0; // bytes read to be converted, held in memory
    bool yearKept = false;
    while (auto frame = walker.next()) {
        const QString id = QString::fromLatin1(frame->id);
        if (dropped.contains(frame->id)) {
            Console::line(QStringLiteral("[ID3] Skipped ") + id + QStringLiteral(" size=") +
                          QString::number(frame->size) + QStringLiteral(" (will write fresh)"));
            continue;
        }
        // One year frame stays: the first non-empty TYER or TDRC, where the
        // year is read from. Another one (a v2.4 tag holding both) would come
        // out as a second TYER with a different year.
        if (frame->id == QByteArrayLiteral("TYER") || frame->id == QByteArrayLiteral("TDRC")) {
            if (yearKept || frame->size == 0) {
                Console::line(QStringLiteral("[ID3] Skipped ") + id + QStringLiteral(" size=") +
                              QString::number(frame->size) + QStringLiteral(" (not the year read)"));
                continue;
            }
            yearKept = true;
        }
        const bool tdrc = version == 4 && frame->id == QByteArrayLiteral("TDRC");
        const bool unsynchronised = version == 4 && ((frame->format & 0x02) || (walker.flags() & 0x80));
        const bool unchanged = !walker.resynchronised() && !unsynchronised && !tdrc;
        // An unchanged body is copied from the old file when it is large, or
        // when holding it would pass the bound whatever its size.
        const bool copied = unchanged && (frame->size >= copiedBody ||
                                          tag.held() + 10 + frame->size > FrameWalker::maxHeldTag);
        if (copied && version == 3) {
            // Its header passes unchanged as well.
            tag.copy(range.start + frame->pos, 10 + frame->size);
        } else {
            // The bytes read: the whole body, or the head its conversion may change.
            const qint64 loaded = copied ? std::min(frame->size, convertedHead) : frame->size;
            // Only converted bytes count against the bound: an unchanged body is held only while it fits.
            if (!unchanged || copied) {
                converted += 10 + loaded;
                if (converted > FrameWalker::maxHeldTag) {
                    failWrite(path, heldTooLarge(converted));
                }
            }
            RawFrame read = *frame;
            read.body = walker.peek(frame->pos + 10, loaded);
            auto result = toV23(std::move(read), version, walker.flags());
            if (const QString* reason = std::get_if<QString>(&result)) {
                Console::line(QStringLiteral("[ID3] Cannot keep ") + id + QStringLiteral(": ") + *reason);
                failWrite(path, QStringLiteral("Cannot rewrite the ID3 tag: ") + *reason);
            }
            V23Frame& v23 = std::get<V23Frame>(result);
            if (tdrc) {
                // ID3v2.3 readers know no TDRC: its time goes to TYER (TDAT, TIME).
                const QByteArray dateFrames = v23DateFrames(v23);
                if (!dateFrames.isEmpty()) {
                    tag.append(dateFrames);
                    Console::line(QStringLiteral("[ID3] Converted TDRC to ID3v2.3 date frames"));
                    ++kept;
                    continue;
                }
            }
            QByteArray header = frame->id;
            Bytes::appendU32BE(header, uint32_t(v23.body.size() + frame->size - loaded));
            header += char(v23.status);
            header += char(v23.format);
            tag.append(header);
            tag.append(std::move(v23.body));
            tag.copy(range.start + frame->pos + 10 + loaded, frame->size - loaded);
        }
        Console::line(QStringLiteral("[ID3] Kept   ") + id + QStringLiteral("  size=") +
                      QString::number(frame->size));
        ++kept;
        if (tag.size() >= ID3v2Handler::maxTagBodySize) {
            failWrite(path, QStringLiteral("ID3 tag too large"));
        }
    }
    switch (walker.stop()) {
    case WalkStop::padding:
        Console::line(QStringLiteral("[ID3] Hit padding at offset ") + QString::number(walker.pos()) +
                      QStringLiteral(", stopping"));
        break;
    case WalkStop::invalidId:
        Console::line(QStringLiteral("[ID3] Invalid frame ID at offset ") + QString::number(walker.pos()) +
                      QStringLiteral(": ") + hexBytes(walker.peek(walker.pos(), 4)) +
                      QStringLiteral(" → stopping copy"));
        if (walker.nonZeroFrom(walker.pos() + 4)) {
            failWrite(path,
                      QStringLiteral("Damaged ID3 tag: invalid frame ID at offset %1").arg(walker.pos()));
        }
        break;
    case WalkStop::overrun: {
        const RawFrame& f = walker.overrunFrame();
        Console::line(QStringLiteral("[ID3] Frame '") + QString::fromLatin1(f.id) + QStringLiteral("' end ") +
                      QString::number(f.pos + 10 + f.size) + QStringLiteral(" > tag end ") +
                      QString::number(walker.end()) + QStringLiteral(" → stopping copy"));
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

std::optional<Range> mp3TagOf(const SourceBytes& file) {
    return file.memory() != nullptr ? ID3v2Handler::parseTagHeader(*file.memory())
                                    : ID3v2Handler::parseTagHeader(*file.file());
}

FilePieces writeMp3(const QString& genre, std::optional<TagYear> year, const std::optional<QString>& title,
                    const std::optional<QString>& artist, const SourceBytes& file, const QString& path) {
    const Input in = inputOf(file);
    qint64 audioStart = 0;
    if (const auto tag = mp3TagOf(file)) {
        const int version = in.at(3);
        if (version != 3 && version != 4) {
            failWrite(path, QStringLiteral("ID3v2.%1 tag not supported").arg(version));
        }
        audioStart = tag->end;
        // An ID3v2.4 footer repeats the header after the tag; it goes with the old tag.
        if (version == 4 && (in.at(5) & 0x10) && in.matches(audioStart, QByteArrayLiteral("3DI"))) {
            audioStart = std::min<qint64>(in.size(), audioStart + 10);
        }
    }
    if (const auto foreign = foreignContainerAt(in, audioStart)) {
        failWrite(path, QStringLiteral("Not an MP3 file (%1 data)").arg(*foreign));
    }
    FilePieces out = ID3v2Handler::buildNewTag(file, genre, year, title, artist, path);
    out.copy(audioStart, in.size() - audioStart);
    return out;
}

// Where the bytes after an ID3 chunk with this body start: past its pad byte.
qint64 replacedEnd(Range body) {
    return body.end + body.length() % 2;
}

FilePieces writeChunked(bool aiff, const QString& genre, std::optional<TagYear> year,
                        const std::optional<QString>& title, const std::optional<QString>& artist,
                        const SourceBytes& file, const QString& path) {
    const QString invalid = aiff ? QStringLiteral("Invalid AIFF file") : QStringLiteral("Invalid WAV file");
    if (file.size() < 12) {
        failWrite(path, invalid);
    }
    const Input in = inputOf(file);
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
    // An ID3v2.4 footer repeats the header after the tag: the frames end
    // before it, and it goes with the old chunk.
    std::optional<Range> oldTag = walk.body;
    if (oldTag && in.matches(oldTag->start, QByteArrayLiteral("ID3\x04")) &&
        (in.at(oldTag->start + 5) & 0x10)) {
        const std::optional<QByteArray> size = in.read(oldTag->start + 6, 4);
        const qint64 footer = oldTag->start + 10 + (size ? ID3v2Handler::syncsafeDecode(*size, 0) : 0);
        if (size && footer + 10 <= oldTag->end && in.matches(footer, QByteArrayLiteral("3DI"))) {
            oldTag->end = footer;
        }
    }
    const FilePieces newTag = ID3v2Handler::rebuildTag(file, oldTag, genre, year, title, artist, {}, path);
    const QByteArray chunkId = aiff ? QByteArrayLiteral("ID3 ") : QByteArrayLiteral("id3 ");
    const auto order = aiff ? ID3v2Handler::SizeOrder::bigEndian : ID3v2Handler::SizeOrder::littleEndian;

    // The container size field holds 32 bits: refuse before building an output it cannot describe.
    const qint64 chunkLength = 8 + newTag.size() + newTag.size() % 2;
    qint64 replaced = walk.missingPad ? -1 : 0; // bytes of the old file that the new chunk replaces
    if (walk.body) {
        replaced = std::min(file.size(), replacedEnd(*walk.body)) - (walk.body->start - 8);
    }
    if (chunkLength - replaced > ID3v2Handler::maxContainerFileSize - 1 - file.size()) {
        failWrite(path, QStringLiteral("File too large for the %1 container").arg(aiff ? "AIFF" : "WAV"));
    }

    const qint64 newSize = walk.body ? (walk.body->start - 8) + chunkLength +
                                           std::max<qint64>(0, file.size() - replacedEnd(*walk.body))
                                     : file.size() + (walk.missingPad ? 1 : 0) + chunkLength;
    const auto appendChunk = [&](FilePieces& out) {
        out.append(ID3v2Handler::chunkHeader(chunkId, newTag.size(), order));
        out.appendPieces(newTag);
        out.append(QByteArray(newTag.size() % 2, '\0'));
    };
    QByteArray containerSize;
    if (aiff) {
        Bytes::appendU32BE(containerSize, uint32_t(newSize - 8));
    } else {
        Bytes::appendU32LE(containerSize, uint32_t(newSize - 8));
    }
    FilePieces out;
    out.copy(0, 4);
    out.append(containerSize);
    if (walk.body) {
        out.copy(8, walk.body->start - 16);
        appendChunk(out);
        out.copy(replacedEnd(*walk.body), file.size() - replacedEnd(*walk.body));
    } else {
        out.copy(8, file.size() - 8);
        if (walk.missingPad) {
            out.append(QByteArray(
                1, '\0')); // the last chunk's pad byte, so that the new chunk starts where readers look
        }
        appendChunk(out);
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------------------

FilePieces ID3v2Handler::writeGenre(const QString& genre, std::optional<TagYear> year,
                                    std::optional<QString> title, std::optional<QString> artist,
                                    const SourceBytes& fileBytes, const QString& path) {
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

FilePieces ID3v2Handler::buildNewTag(const SourceBytes& file, const QString& genre,
                                     std::optional<TagYear> year, const std::optional<QString>& title,
                                     const std::optional<QString>& artist, const QString& path) {
    const Input in = inputOf(file);
    if (const auto tag = mp3TagOf(file)) {
        return rebuildTag(file, tag, genre, year, title, artist, {}, path);
    }
    QByteArray first;
    const QByteArray v1 =
        file.size() >= 128 ? readOrFail(in, Range{file.size() - 128, file.size()}, path) : QByteArray();
    if (v1.startsWith(QByteArrayLiteral("TAG"))) {
        const QString v1Title = readID3v1Field(v1.mid(3, 30));
        const QString v1Artist = readID3v1Field(v1.mid(33, 30));
        const QString v1Album = readID3v1Field(v1.mid(63, 30));
        const QString v1Year = readID3v1Field(v1.mid(93, 4));
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
    return rebuildTag(file, std::nullopt, genre, year, title, artist, first, path);
}

FilePieces ID3v2Handler::rebuildTag(const SourceBytes& file, std::optional<Range> oldTag,
                                    const QString& genre, std::optional<TagYear> year,
                                    const std::optional<QString>& title, const std::optional<QString>& artist,
                                    const QByteArray& firstFrames, const QString& path) {
    QSet<QByteArray> dropped{QByteArrayLiteral("TCON")};
    if (year) {
        // The whole old date goes: a day or time kept beside a new year would make a wrong date.
        dropped << QByteArrayLiteral("TYER") << QByteArrayLiteral("TDRC") << QByteArrayLiteral("TDAT")
                << QByteArrayLiteral("TIME");
    }
    if (title) {
        dropped << QByteArrayLiteral("TIT2");
    }
    if (artist) {
        dropped << QByteArrayLiteral("TPE1");
    }

    NewTag tag;
    tag.append(firstFrames);
    if (oldTag && oldTag->length() >= 10) {
        // One that could never be rewritten is not read at all.
        if (oldTag->length() > 10 + maxTagBodySize) {
            failWrite(path, QStringLiteral("ID3 tag too large"));
        }
        const Input in = inputOf(file);
        const QByteArray header = readOrFail(in, Range{oldTag->start, oldTag->start + 10}, path);
        const int version = uint8_t(header[3]);
        const uint8_t flags = uint8_t(header[5]);
        Console::line(QStringLiteral("[ID3] Parsing tag: version=2.") + QString::number(version) +
                      QStringLiteral(", tagBytes=") + QString::number(oldTag->length()) +
                      QStringLiteral(", flags=0x") +
                      QStringLiteral("%1").arg(flags, 2, 16, QLatin1Char('0')).toUpper());
        if (!header.startsWith("ID3")) {
            failWrite(path, QStringLiteral("The ID3 chunk does not hold an ID3v2 tag"));
        }
        if (version != 3 && version != 4) {
            failWrite(path, QStringLiteral("ID3v2.%1 tag not supported").arg(version));
        }
        // Tag-level unsynchronisation of an ID3v2.3 tag is undone on the whole tag.
        if (version == 3 && (flags & 0x80) && oldTag->length() > FrameWalker::maxHeldTag) {
            failWrite(path, heldTooLarge(oldTag->length()));
        }
        try {
            keepFrames(tag, in, *oldTag, dropped, path);
        } catch (const AppError& error) {
            if (error.kind() != AppError::Kind::tagReadFailed) {
                throw;
            }
            failWrite(path, QStringLiteral("The file could not be read"));
        }
    }

    if (!genre.isEmpty()) { // no genre: no TCON frame (an undo takes away the one a write added)
        tag.append(buildTextFrame(QByteArrayLiteral("TCON"), genre));
    }
    if (year && !year->removesDate) {
        // A date text goes back as TYER (TDAT, TIME), as a rewrite turns a TDRC into them.
        const QByteArray dateFrames = v23DateFrames(year->dateText);
        tag.append(!dateFrames.isEmpty() ? dateFrames
                                         : buildTextFrame(QByteArrayLiteral("TYER"), year->text()));
    }
    if (title) {
        tag.append(buildTextFrame(QByteArrayLiteral("TIT2"), *title));
    }
    if (artist) {
        tag.append(buildTextFrame(QByteArrayLiteral("TPE1"), *artist));
    }
    if (tag.size() + paddingSize >= maxTagBodySize) {
        failWrite(path, QStringLiteral("ID3 tag too large"));
    }
    tag.append(QByteArray(paddingSize, '\0'));
    return std::move(tag).finish();
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

QByteArray ID3v2Handler::chunkHeader(const QByteArray& id, qint64 bodySize, SizeOrder order) {
    QByteArray out = id.left(4);
    if (order == SizeOrder::bigEndian) {
        Bytes::appendU32BE(out, uint32_t(bodySize));
    } else {
        Bytes::appendU32LE(out, uint32_t(bodySize));
    }
    return out;
}

QByteArray ID3v2Handler::syncsafeEncode(uint32_t size) {
    QByteArray out(4, '\0');
    out[0] = char((size >> 21) & 0x7F);
    out[1] = char((size >> 14) & 0x7F);
    out[2] = char((size >> 7) & 0x7F);
    out[3] = char(size & 0x7F);
    return out;
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
