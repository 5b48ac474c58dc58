#include "tagio/id3/ID3v2Handler.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "model/DecadeRule.h"
#include "model/TextUtil.h"
#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/id3/ID3v2Frames.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <variant>

using namespace id3v2;

namespace {

constexpr qint64 maxChunks = 1000000;

bool isAiffId3Chunk(const QByteArray& id) {
    return id == QByteArrayLiteral("ID3 ") || id == QByteArray("ID3\0", 4);
}

bool isWavId3Chunk(const QByteArray& id) {
    return id.toLower() == QByteArrayLiteral("id3 ");
}

} // namespace

ChunkWalk id3v2::walkChunks(const Input& in, bool littleEndian) {
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

namespace {

// The body of the ID3 chunk ("ID3 " or "ID3\0" in a FORM container).
std::optional<Range> findAiff(const Input& in) {
    if (in.size() < 12 || !in.matches(0, QByteArrayLiteral("FORM"))) {
        return std::nullopt;
    }
    return walkChunks(in, false).body;
}

// The body of the ID3 chunk ("id3 " in any letter case, in RIFF/WAVE).
std::optional<Range> findWav(const Input& in) {
    if (in.size() < 12 || !in.matches(0, QByteArrayLiteral("RIFF")) ||
        !in.matches(8, QByteArrayLiteral("WAVE"))) {
        return std::nullopt;
    }
    return walkChunks(in, true).body;
}

} // namespace

std::variant<V23Frame, QString> id3v2::toV23(RawFrame f, int version, uint8_t tagFlags) {
    if (version != 4) {
        return V23Frame{f.status, f.format, std::move(f.body)};
    }
    if (f.format & 0x08) {
        return QStringLiteral("compressed ID3v2.4 frame '%1' cannot be carried over")
            .arg(QString::fromLatin1(f.id));
    }
    if (f.format & 0x04) {
        return QStringLiteral("encrypted ID3v2.4 frame '%1' cannot be carried over")
            .arg(QString::fromLatin1(f.id));
    }
    QByteArray body = std::move(f.body);
    if ((f.format & 0x02) || (tagFlags & 0x80)) {
        body = ID3v2Handler::removeUnsynchronisation(std::move(body));
    }
    // The group byte stays, the data length indicator behind it goes.
    qint64 offset = 0;
    if (f.format & 0x40) {
        if (body.isEmpty()) {
            return QStringLiteral("damaged ID3v2.4 frame '%1'").arg(QString::fromLatin1(f.id));
        }
        offset = 1;
    }
    if (f.format & 0x01) {
        if (body.size() - offset < 4) {
            return QStringLiteral("damaged ID3v2.4 frame '%1'").arg(QString::fromLatin1(f.id));
        }
        if (offset == 1) {
            body[4] = body[0];
        }
        body.remove(0, 4);
    }
    V23Frame out;
    out.status = uint8_t((f.status << 1) & 0xE0);
    out.format = (f.format & 0x40) ? 0x20 : 0x00;
    out.body = std::move(body);
    return out;
}

std::optional<QString> id3v2::frameText(const RawFrame& f, int version, uint8_t tagFlags) {
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
    return ID3v2Handler::decodeTextStrict(frame.body.mid(start + 1), uint8_t(frame.body[start]));
}

namespace {

// The year and genre frames of a tag: the text of the first non-empty TYER
// or TDRC frame (no value when it cannot be decoded) and the first decodable
// TCON text. The walk stops as soon as both are known; only their bodies are
// loaded.
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

// Where the file's tag lies, when it holds one that can be walked.
std::optional<Range> tagToWalk(const ByteSource& source, const QString& path) {
    const auto range = ID3v2Handler::locateTag(source, path);
    if (!range || range->length() < 10) {
        return std::nullopt;
    }
    const auto magic = source.read(range->start, 3);
    if (!magic) {
        throw AppError::tagReadFailed(path, readFailedText);
    }
    return *magic == QByteArrayLiteral("ID3") ? range : std::nullopt;
}

// The same from the tag of a file, by positioned reads; nothing when the
// file has no tag. Throws AppError::tagReadFailed when a read fails.
YearGenreFrames readYearAndGenreFrames(const ByteSource& source, const QString& path, bool wantYear,
                                       bool wantGenre) {
    const auto range = tagToWalk(source, path);
    if (!range) {
        return {};
    }
    FrameWalker walker(source, *range, path);
    return findYearAndGenreFrames(walker, wantYear, wantGenre);
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

// The text with a byte-order mark removed from the start of every value.
std::optional<QString> withoutValueMarks(std::optional<QString> text) {
    if (text) {
        for (qsizetype i = 0; i < text->size(); ++i) {
            if (text->at(i) == QChar(0xFEFF) && (i == 0 || text->at(i - 1) == QChar(0))) {
                text->remove(i--, 1);
            }
        }
    }
    return text;
}

// ---------------------------------------------------------------------------
// Tag size of an MP3 tag

// Whether an MP3 tag of that size ends at the end of the file or before
// 0x00, 'T' or 0xFF.
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
// The walk reads frame headers only, so a big-endian size of up to 4 GiB
// costs no more memory than a small one.
bool framesOutgrowSyncsafeSize(const Input& in, qint64 ss, qint64 be) {
    if (10 + be > in.size()) {
        return false;
    }
    try {
        FrameWalker walker(in, Range{0, 10 + be}, QString());
        while (const auto frame = walker.next()) {
            if (frame->pos + 10 + frame->size > 10 + ss) {
                return true;
            }
        }
    } catch (const AppError&) {
        // Unreadable, or a tag too large to hold: the syncsafe size stands.
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

QList<std::optional<QString>> ID3v2Handler::readTextFrames(const ByteSource& source, const QString& path,
                                                           const QList<QByteArray>& ids) {
    QList<std::optional<QString>> texts(ids.size());
    const auto range = tagToWalk(source, path);
    if (!range) {
        return texts;
    }
    FrameWalker walker(source, *range, path);
    QList<bool> done(ids.size(), false);
    for (qsizetype left = ids.size(); left > 0;) {
        auto frame = walker.next();
        if (!frame) {
            break;
        }
        const qsizetype k = ids.indexOf(frame->id);
        if (frame->size == 0 || k < 0 || done[k]) {
            continue;
        }
        walker.loadBody(*frame);
        texts[k] = frameText(*frame, walker.version(), walker.flags());
        done[k] = true;
        --left;
    }
    return texts;
}

std::optional<QString> ID3v2Handler::readDateText(const ByteSource& source, const QString& path) {
    QList<QString> texts;
    for (const std::optional<QString>& text :
         readTextFrames(source, path,
                        {QByteArrayLiteral("TYER"), QByteArrayLiteral("TDRC"), QByteArrayLiteral("TDAT"),
                         QByteArrayLiteral("TIME")})) {
        texts.append(text.value_or(QString()).section(QChar(0), 0, 0));
    }
    const QString& tdat = texts[2];
    const QString& time = texts[3];
    static const QRegularExpression fourDigits(QStringLiteral("^[0-9]{4}$"));
    QString date = texts[0];
    if (fourDigits.match(date).hasMatch() && fourDigits.match(tdat).hasMatch()) {
        date += u'-' + tdat.mid(2) + u'-' + tdat.left(2);
        if (fourDigits.match(time).hasMatch()) {
            date += u'T' + time.left(2) + u':' + time.mid(2);
        }
    }
    if (texts[1].size() > date.size()) {
        date = texts[1];
    }
    return date.isEmpty() ? std::nullopt : std::optional<QString>(date);
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

namespace {

std::optional<QString> decodeValues(const QByteArray& bytes, uint8_t encoding) {
    switch (encoding) {
    case 0:
        return QString::fromLatin1(bytes);
    case 1: {
        // Each value of a list may carry its own byte-order mark (mutagen
        // writes one per value); the mark decides for its value. A value
        // without one keeps the order before it: little-endian at first.
        QString text;
        bool bigEndian = false;
        qsizetype start = 0;
        for (qsizetype i = 0;; i += 2) {
            const bool last = i + 1 >= bytes.size();
            if (!last && (bytes[i] != 0 || bytes[i + 1] != 0)) {
                continue;
            }
            QByteArrayView value = QByteArrayView(bytes).sliced(start, (last ? bytes.size() : i) - start);
            if (value.startsWith("\xFE\xFF") || value.startsWith("\xFF\xFE")) {
                bigEndian = value[0] == '\xFE';
                value = value.sliced(2);
            }
            const std::optional<QString> decoded = decodeUtf16(value.toByteArray(), bigEndian);
            if (!decoded) {
                return std::nullopt;
            }
            text += *decoded;
            if (last) {
                return text;
            }
            text += QChar(0);
            start = i + 2;
        }
    }
    case 2:
        return withoutValueMarks(decodeUtf16(bytes, true));
    default:
        return withoutValueMarks(TextUtil::strictUtf8(bytes));
    }
}

} // namespace

std::optional<QString> ID3v2Handler::decodeTextStrict(const QByteArray& bytes, uint8_t encoding) {
    std::optional<QString> text = decodeValues(bytes, encoding);
    return text ? std::optional<QString>(TextUtil::withoutTrailingNuls(*std::move(text))) : std::nullopt;
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

uint32_t ID3v2Handler::syncsafeDecode(const QByteArray& bytes, qint64 offset) {
    if (!Bytes::fits(bytes.size(), offset, 4)) {
        return 0;
    }
    return (uint32_t(uint8_t(bytes[offset]) & 0x7F) << 21) |
           (uint32_t(uint8_t(bytes[offset + 1]) & 0x7F) << 14) |
           (uint32_t(uint8_t(bytes[offset + 2]) & 0x7F) << 7) | uint32_t(uint8_t(bytes[offset + 3]) & 0x7F);
}

QByteArray ID3v2Handler::removeUnsynchronisation(QByteArray bytes, qsizetype from) {
    // One pass in place: the bytes are moved down over each zero dropped, so
    // a buffer the caller hands over is never copied.
    qsizetype at = bytes.indexOf(QByteArrayView("\xFF\x00", 2), from);
    if (at < 0) {
        return bytes;
    }
    char* data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype out = at;
    for (qsizetype i = at; i < size; ++i) {
        data[out++] = data[i];
        if (uint8_t(data[i]) == 0xFF && i + 1 < size && data[i + 1] == 0) {
            ++i;
        }
    }
    bytes.truncate(out);
    return bytes;
}
