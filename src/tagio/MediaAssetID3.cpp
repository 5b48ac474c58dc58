// The media layer for files with ID3v2 tags: the tag's frames as items, and
// MP3 (with its ID3v1 tag), AIFF and WAV (with RIFF INFO) files with their
// durations from the audio headers.

#include "model/AppError.h"
#include "model/Console.h"
#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/GenreNames.h"
#include "tagio/ID3v2Frames.h"
#include "tagio/MediaAssetParts.h"

#include <QMap>

#include <map>

#include <cmath>

namespace media {

namespace {

using id3v2::FrameWalker;
using id3v2::RawFrame;
using id3v2::WalkStop;

// --- ID3v2 frame values --------------------------------------------------------

bool isUtf16(uint8_t encoding) {
    return encoding == 1 || encoding == 2;
}

// One field of a text frame. UTF-16 with a byte-order mark takes its order
// from the mark; without one it takes `order` (0 = none known, which TagLib
// reads as no text).
QString decodeField(const QByteArray& bytes, uint8_t encoding, int& order) {
    switch (encoding) {
    case 0:
        return cutAtNul(QString::fromLatin1(bytes));
    case 1:
    case 2: {
        qsizetype start = 0;
        bool bigEndian = encoding == 2;
        if (encoding == 1) {
            if (bytes.startsWith("\xFF\xFE")) {
                order = 1;
                start = 2;
            } else if (bytes.startsWith("\xFE\xFF")) {
                order = 2;
                start = 2;
            } else if (order == 0) {
                return QString();
            }
            bigEndian = order == 2;
        }
        QString text;
        for (qsizetype i = start; i + 1 < bytes.size(); i += 2) {
            const uint8_t a = uint8_t(bytes[i]);
            const uint8_t b = uint8_t(bytes[i + 1]);
            text.append(QChar(bigEndian ? char16_t((a << 8) | b) : char16_t((b << 8) | a)));
        }
        return cutAtNul(text);
    }
    default:
        return cutAtNul(QString::fromUtf8(bytes));
    }
}

// Splits at the text delimiter (one NUL, or two on a two-byte boundary for UTF-16).
QList<QByteArray> splitFields(const QByteArray& bytes, uint8_t encoding, int max = 0) {
    QList<QByteArray> parts;
    const int width = isUtf16(encoding) ? 2 : 1;
    qsizetype from = 0;
    for (qsizetype i = 0; i + width <= bytes.size(); i += width) {
        if (max > 0 && parts.size() + 1 >= max) {
            break;
        }
        if (bytes[i] == 0 && (width == 1 || bytes[i + 1] == 0)) {
            parts.append(bytes.mid(from, i - from));
            from = i + width;
        }
    }
    parts.append(bytes.mid(from));
    return parts;
}

// The fields of a text frame body (encoding byte first), as TagLib splits them:
// trailing NULs dropped, empty fields left out (except the description of TXXX).
QStringList textFields(const QByteArray& body, bool userText) {
    if (body.size() < 2) {
        return {};
    }
    const uint8_t encoding = uint8_t(body[0]);
    const int width = isUtf16(encoding) ? 2 : 1;
    qsizetype length = body.size() - 1;
    while (length > 0 && body[length] == 0) {
        --length;
    }
    while (length % width != 0) {
        ++length;
    }
    QStringList fields;
    int order = 0;
    const QList<QByteArray> parts = splitFields(body.mid(1, length), encoding);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (!parts[i].isEmpty() || (i == 0 && userText)) {
            fields.append(decodeField(parts[i], encoding, order));
        }
    }
    return fields;
}

// "(17)" and "(17)Name" references as TagLib keeps them: the bare number, and
// the name when it is not the number's own.
QStringList genreFields(const QStringList& fields) {
    QStringList out;
    for (const QString& s : fields) {
        const qsizetype close = s.indexOf(QLatin1Char(')'));
        if (s.startsWith(QLatin1Char('(')) && close > 0) {
            const QString text = s.mid(close + 1);
            bool ok = false;
            const int n = s.mid(1, close - 1).toInt(&ok);
            if (ok && n >= 0 && n <= 255 &&
                genreNameForNumber(n, extendedGenreNames()).value_or(QString()) != text) {
                out.append(s.mid(1, close - 1));
            }
            if (!text.isEmpty()) {
                out.append(text);
            }
        } else {
            out.append(s);
        }
    }
    return out;
}

QString joinFields(const QStringList& fields) {
    return fields.join(QLatin1String(kValueSeparator));
}

QString commentText(const QByteArray& body) {
    if (body.size() < 5) {
        return QString();
    }
    const uint8_t encoding = uint8_t(body[0]);
    const QList<QByteArray> parts = splitFields(body.mid(4), encoding, 2);
    if (parts.size() != 2) {
        return QString();
    }
    int order = 0;
    decodeField(parts[0], encoding, order);
    return decodeField(parts[1], encoding, order);
}

QString userUrl(const QByteArray& body) {
    if (body.size() < 2) {
        return QString();
    }
    const QList<QByteArray> parts = splitFields(body.mid(1), uint8_t(body[0]), 2);
    return parts.size() == 2 ? cutAtNul(QString::fromLatin1(parts[1])) : QString();
}

// The frame body as the frame's text parser sees it, or no value when it is
// compressed, encrypted or damaged.
std::optional<QByteArray> plainBody(const RawFrame& frame, int version, uint8_t tagFlags) {
    const auto converted = id3v2::toV23(frame, version, tagFlags);
    const auto* v23 = std::get_if<id3v2::V23Frame>(&converted);
    if (!v23 || (v23->format & 0xC0)) {
        return std::nullopt;
    }
    return (v23->format & 0x20) ? v23->body.mid(1) : v23->body;
}

bool wantsValue(const QByteArray& id) {
    return id.startsWith('T') || id.startsWith('W') || id == QByteArrayLiteral("COMM");
}

struct PendingFrame {
    QByteArray id;
    std::optional<QString> value;
    QStringList fields; // of a text frame
};

// Year, date and time of an ID3v2.3 tag joined into the TDRC text.
void joinDate(QList<PendingFrame>& frames, const QMap<QByteArray, QList<QByteArray>>& raw) {
    PendingFrame* tdrc = nullptr;
    for (PendingFrame& f : frames) {
        if (f.id == "TDRC") {
            if (tdrc) {
                return;
            }
            tdrc = &f;
        }
    }
    const auto dateBodies = raw.value(QByteArrayLiteral("TDAT"));
    if (!tdrc || dateBodies.size() != 1 || tdrc->fields.size() != 1 || tdrc->fields[0].size() != 4 ||
        dateBodies[0].size() < 5) {
        return;
    }
    int order = 0;
    const QString date = decodeField(dateBodies[0].mid(1), uint8_t(dateBodies[0][0]), order);
    if (date.size() != 4) {
        return;
    }
    QString text = tdrc->fields[0] + QLatin1Char('-') + date.mid(2, 2) + QLatin1Char('-') + date.left(2);
    const auto timeBodies = raw.value(QByteArrayLiteral("TIME"));
    if (timeBodies.size() == 1 && timeBodies[0].size() >= 5) {
        order = 0;
        const QString time = decodeField(timeBodies[0].mid(1), uint8_t(timeBodies[0][0]), order);
        if (time.size() == 4) {
            text += QLatin1Char('T') + time.left(2) + QLatin1Char(':') + time.mid(2, 2);
        }
    }
    tdrc->value = text;
}

} // namespace

namespace {

// The item of one frame as TagLib lists it.
PendingFrame itemFrame(const FrameWalker& walker, RawFrame& frame, int version,
                       QMap<QByteArray, QList<QByteArray>>& raw, Window& in) {
    static const QSet<QByteArray> dropped = {"EQUA", "RVAD", "TIME", "TRDA", "TSIZ", "TDAT"};
    PendingFrame f;
    f.id = frame.id;
    const bool unknown = version == 3 && dropped.contains(f.id);
    const bool encrypted = version == 4 ? (frame.format & 0x04) : (frame.format & 0x40);
    if (version == 3) {
        if (f.id == "TORY") {
            f.id = "TDOR";
        } else if (f.id == "TYER") {
            f.id = "TDRC";
        } else if (f.id == "IPLS") {
            f.id = "TIPL";
        }
    } else if (f.id == "TRDC") {
        f.id = "TDRC";
    }
    const bool wanted =
        unknown ? (f.id == "TDAT" || f.id == "TIME") && frame.size <= 64
                : !encrypted && wantsValue(f.id) && (!frame.body.isEmpty() || in.spend(frame.size));
    if (!wanted) {
        return f;
    }
    if (frame.body.isEmpty()) {
        walker.loadBody(frame);
    }
    const std::optional<QByteArray> body = plainBody(frame, version, walker.flags());
    if (unknown) {
        if (body) {
            raw[f.id].append(*body);
        }
    } else if (f.id.startsWith('T')) {
        const bool userText = f.id == "TXXX";
        f.fields = body ? textFields(*body, userText) : QStringList();
        if (userText && !f.fields.isEmpty()) {
            f.fields.removeFirst();
        }
        f.value = f.id == "TCON" ? genreFieldText(genreFields(f.fields)) : joinFields(f.fields);
    } else if (f.id == "COMM") {
        f.value = body ? commentText(*body) : QString();
    } else if (f.id == "WXXX") {
        f.value = body ? userUrl(*body) : QString();
    } else {
        f.value = body ? cutAtNul(QString::fromLatin1(*body)) : QString();
    }
    return f;
}

// The text of a frame as ID3v2Handler's year and genre reads decode it.
std::optional<QString> handlerText(const FrameWalker& walker, RawFrame& frame, int version,
                                   DirectFrames& direct, Window& in) {
    if (!in.spend(frame.size)) {
        direct.known = false;
        return std::nullopt;
    }
    walker.loadBody(frame);
    const std::optional<QByteArray> body = plainBody(frame, version, walker.flags());
    if (!body || body->isEmpty()) {
        return std::nullopt;
    }
    return ID3v2Handler::decodeText(body->mid(1), uint8_t(body->at(0)));
}

} // namespace

std::optional<QList<Item>> readID3v2Items(const ByteSource& source, Window& in, qint64 start, qint64 end,
                                          DirectFrames* direct) {
    QList<Item> items;
    const auto header = in.read(start, 10);
    if (!header || end - start < 10 || !header->startsWith("ID3")) {
        return items;
    }
    const int version = uint8_t(header->at(3));
    if (version != 3 && version != 4) {
        return std::nullopt;
    }
    bool itemsOpen = true;
    for (int i = 6; i < 10; ++i) {
        itemsOpen = itemsOpen && uint8_t(header->at(i)) < 0x80; // TagLib reads other sizes as no tag
    }
    FrameWalker walker(source, ID3v2Handler::Range{start, end}, source.path());
    QList<PendingFrame> frames;
    QMap<QByteArray, QList<QByteArray>> raw; // TDAT and TIME bodies of a v2.3 tag
    bool complete = itemsOpen;
    bool yearDone = !direct;
    bool genreDone = !direct;
    while (itemsOpen || !yearDone || !genreDone) {
        auto frame = walker.next();
        if (!frame) {
            break;
        }
        if (frame->size > 0 && !yearDone && (frame->id == "TYER" || frame->id == "TDRC")) {
            yearDone = true;
            direct->yearText = handlerText(walker, *frame, version, *direct, in);
        } else if (frame->size > 0 && !genreDone && frame->id == "TCON") {
            direct->genre = handlerText(walker, *frame, version, *direct, in);
            genreDone = direct->genre.has_value() || !direct->known;
        }
        const bool indicator = version == 4 && (frame->format & 0x01);
        if (itemsOpen && (frame->size == 0 || (indicator && frame->size <= 4))) {
            itemsOpen = complete = false; // TagLib ends the tag at an empty frame
        }
        if (itemsOpen) {
            frames.append(itemFrame(walker, *frame, version, raw, in));
            itemsOpen = frames.size() < kMaxWalk;
        }
    }
    if (walker.stop() != WalkStop::padding && walker.stop() != WalkStop::end) {
        complete = false;
    }
    if (complete && version == 3) {
        joinDate(frames, raw);
    }
    for (const PendingFrame& f : frames) {
        const QString id = QString::fromLatin1(f.id);
        items.append(makeItem(MediaAsset::keySpaceID3, id, id3CommonKey(id), f.value));
    }
    return items;
}

// --- MPEG audio ---------------------------------------------------------------

namespace {

struct MpegHeader {
    bool valid = false;
    int samplesPerFrame = 0;
    int sampleRate = 0;
    int bitrate = 0; // kbit/s
    qint64 frameLength = 0;
};

MpegHeader parseMpegHeader(uint32_t h) {
    static const int bitrates[2][3][16] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
    static const int sampleRates[3][4] = {
        {44100, 48000, 32000, 0}, {22050, 24000, 16000, 0}, {11025, 12000, 8000, 0}};
    static const int samples[3][2] = {{384, 384}, {1152, 1152}, {1152, 576}};
    static const int paddingSize[3] = {4, 1, 1};
    MpegHeader out;
    if ((h >> 24) != 0xFF || ((h >> 21) & 0x7) != 0x7 || ((h >> 16) & 0xFF) == 0xFF) {
        return out;
    }
    const int versionBits = (h >> 19) & 0x3;
    const int layerBits = (h >> 17) & 0x3;
    if (versionBits == 1 || layerBits == 0) {
        return out;
    }
    const int version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2; // 1, 2, 2.5
    const int layer = 3 - layerBits;                                     // I, II, III as 0..2
    out.bitrate = bitrates[version == 0 ? 0 : 1][layer][(h >> 12) & 0xF];
    out.sampleRate = sampleRates[version][(h >> 10) & 0x3];
    if (out.bitrate == 0 || out.sampleRate == 0) {
        return out;
    }
    out.samplesPerFrame = samples[layer][version == 0 ? 0 : 1];
    out.frameLength = qint64(out.samplesPerFrame) * out.bitrate * 125 / out.sampleRate;
    if ((h >> 9) & 1) {
        out.frameLength += paddingSize[layer];
    }
    out.valid = out.frameLength > 0;
    return out;
}

uint32_t u32At(Window& in, qint64 offset) {
    const auto b = in.read(offset, 4);
    return b ? Bytes::u32BE(*b, 0) : 0;
}

// A frame header at `offset` that the next frame's header confirms.
MpegHeader checkedHeader(Window& in, qint64 offset) {
    const uint32_t h = u32At(in, offset);
    MpegHeader header = parseMpegHeader(h);
    if (!header.valid) {
        return header;
    }
    const auto next = in.read(offset + header.frameLength, 4);
    constexpr uint32_t mask = 0xFFFE0C00;
    if (!next || (Bytes::u32BE(*next, 0) & mask) != (h & mask)) {
        header.valid = false;
    }
    return header;
}

bool isSync(uint8_t a, uint8_t b) {
    return a == 0xFF && b != 0xFF && (b & 0xE0) == 0xE0;
}

// The first confirmed frame at or after `from`, searched within kMaxSearch bytes.
std::optional<qint64> firstFrame(Window& in, qint64 from) {
    constexpr qint64 block = 8 * 1024;
    const qint64 limit = std::min(in.size(), from + kMaxSearch);
    for (qint64 pos = from; pos < limit - 1; pos += block - 1) {
        const QByteArray bytes = in.readAtMost(pos, std::min(block, limit - pos));
        for (qsizetype i = 0; i + 1 < bytes.size(); ++i) {
            if (isSync(uint8_t(bytes[i]), uint8_t(bytes[i + 1])) && checkedHeader(in, pos + i).valid) {
                return pos + i;
            }
        }
        if (bytes.size() < 2) {
            break;
        }
    }
    return std::nullopt;
}

// The offset after the last confirmed frame before `end`, searched backwards
// within kMaxSearch bytes.
std::optional<qint64> lastFrame(Window& in, qint64 end, qint64 floor) {
    constexpr qint64 block = 4 * 1024;
    const qint64 limit = std::max(floor, end - kMaxSearch);
    for (qint64 stop = end; stop > limit;) {
        const qint64 start = std::max(limit, stop - block);
        const QByteArray bytes = in.readAtMost(start, stop - start + 1);
        for (qsizetype i = stop - start - 1; i >= 0; --i) {
            if (i + 1 < bytes.size() && isSync(uint8_t(bytes[i]), uint8_t(bytes[i + 1]))) {
                const MpegHeader h = checkedHeader(in, start + i);
                if (h.valid) {
                    return start + i + h.frameLength;
                }
            }
        }
        stop = start;
    }
    return std::nullopt;
}

// Milliseconds of the stream whose first frame is at `first`: from a Xing,
// Info or VBRI header, else from the bit rate and the audio size.
double mpegMilliseconds(Window& in, qint64 first, qint64 audioEnd) {
    const MpegHeader h = parseMpegHeader(u32At(in, first));
    const QByteArray frame = in.readAtMost(first, h.frameLength);
    qint64 frames = 0;
    qint64 bytes = 0;
    qsizetype at = frame.indexOf("Xing");
    if (at < 0) {
        at = frame.indexOf("Info");
    }
    if (at >= 0) {
        if (frame.size() >= at + 16 && (uint8_t(frame[at + 7]) & 0x03) == 0x03) {
            frames = Bytes::u32BE(frame, at + 8);
            bytes = Bytes::u32BE(frame, at + 12);
        }
    } else if ((at = frame.indexOf("VBRI")) >= 0 && frame.size() >= at + 32) {
        bytes = Bytes::u32BE(frame, at + 10);
        frames = Bytes::u32BE(frame, at + 14);
    }
    if (frames > 0 && bytes > 0) {
        return double(h.samplesPerFrame) * 1000.0 / h.sampleRate * double(frames);
    }
    const std::optional<qint64> last = lastFrame(in, audioEnd, first);
    if (!last) {
        return 0.0;
    }
    const MpegHeader lastHeader = parseMpegHeader(u32At(in, *last));
    const qint64 streamLength = *last - first + (lastHeader.valid ? lastHeader.frameLength : 0);
    return streamLength > 0 ? double(streamLength) * 8.0 / h.bitrate : 0.0;
}

QString latin1Field(const QByteArray& bytes) {
    return cutAtNul(QString::fromLatin1(bytes)).trimmed();
}

void appendID3v1(QList<Item>& items, const QByteArray& tag) {
    auto add = [&](const char* key, const QString& common, const QString& value) {
        if (!value.isEmpty()) {
            items.append(makeItem(MediaAsset::keySpaceID3v1, QLatin1String(key), common, value));
        }
    };
    const QString title = latin1Field(tag.mid(3, 30));
    const QString artist = latin1Field(tag.mid(33, 30));
    const QString album = latin1Field(tag.mid(63, 30));
    const int year = latin1Field(tag.mid(93, 4)).toInt();
    const uint8_t genre = uint8_t(tag[127]);
    if (title.isEmpty() && artist.isEmpty() && album.isEmpty() && year == 0 && genre == 255 &&
        latin1Field(tag.mid(97, 28)).isEmpty() && (tag[125] != 0 || tag[126] == 0)) {
        return; // an empty tag
    }
    add("TITLE", MediaAsset::commonKeyTitle, title);
    add("ARTIST", MediaAsset::commonKeyArtist, artist);
    add("ALBUM", MediaAsset::commonKeyAlbumName, album);
    if (year > 0) {
        add("DATE", MediaAsset::commonKeyCreationDate, QString::number(year));
    }
    if (genre < 255) {
        add("GENRE", MediaAsset::commonKeyType, QStringLiteral("(%1)").arg(genre));
    }
}

// An APE tag whose footer ends at `end`: its text items as TagLib's property
// map lists them (binary items, pictures above all, are never read) and the
// offset where the tag starts.
struct ApeTag {
    QList<Item> items;
    qint64 start = 0;
};

std::optional<ApeTag> readApe(Window& in, qint64 end) {
    const auto footer = in.read(end - 32, 32);
    if (!footer || !footer->startsWith("APETAGEX")) {
        return std::nullopt;
    }
    const qint64 size = Bytes::u32LE(*footer, 12); // items and footer
    const qint64 count = Bytes::u32LE(*footer, 16);
    const bool header = Bytes::u32LE(*footer, 20) & 0x80000000u;
    if (size < 32 || size > end) {
        return std::nullopt;
    }
    ApeTag tag;
    tag.start = end - size - (header ? 32 : 0);
    static const QMap<QString, QString> renamed = {{"TRACK", "TRACKNUMBER"},
                                                   {"YEAR", "DATE"},
                                                   {"ALBUM ARTIST", "ALBUMARTIST"},
                                                   {"DISC", "DISCNUMBER"},
                                                   {"MIXARTIST", "REMIXER"}};
    std::map<QString, QStringList> byKey; // the last item of a key wins
    qint64 pos = end - size;
    for (qint64 i = 0; i < count && i < kMaxWalk && pos + 11 <= end - 32; ++i) {
        const QByteArray head = in.readAtMost(pos, 8 + 256);
        const qint64 length = Bytes::u32LE(head, 0);
        const uint32_t flags = Bytes::u32LE(head, 4);
        const qsizetype nul = head.indexOf('\0', 8);
        if (nul < 0 || length > end - 32 - (pos + nul + 1)) {
            break;
        }
        const QString key = QString::fromLatin1(head.mid(8, nul - 8)).toUpper();
        const qint64 value = pos + nul + 1;
        pos = value + length;
        if (key.size() < 2 || ((flags >> 1) & 3) != 0 || !in.spend(length)) {
            byKey.erase(key); // a binary item replaces a text item of the same key
            continue;
        }
        byKey[key] = QString::fromUtf8(in.readAtMost(value, length)).split(QChar(0));
    }
    std::map<QString, QStringList> properties;
    for (const auto& [key, values] : byKey) {
        properties[renamed.value(key, key)].append(values);
    }
    for (const auto& [key, values] : properties) {
        for (const QString& v : values) {
            tag.items.append(makeItem(MediaAsset::keySpaceAPE, key, commonKeyForProperty(key), v));
        }
    }
    return tag;
}

} // namespace

std::optional<Parsed> readMpeg(const ByteSource& source, DirectFrames* direct) {
    Window in(source);
    Parsed parsed;
    qint64 audioStart = 0;
    const auto header = in.read(0, 10);
    if (header && header->startsWith("ID3")) {
        bool syncsafe = true;
        for (int i = 6; i < 10; ++i) {
            syncsafe = syncsafe && uint8_t(header->at(i)) < 0x80;
        }
        const qint64 size = syncsafe ? ID3v2Handler::syncsafeDecode(*header, 6) : 0;
        const bool footer = header->at(3) == 4 && (uint8_t(header->at(5)) & 0x10);
        audioStart = 10 + size + (footer ? 10 : 0);
        if (const auto range = ID3v2Handler::parseTagHeader(source)) {
            auto items = readID3v2Items(source, in, range->start, range->end, direct);
            if (!items) {
                // A tag version TagLib converts: left to TagLib, but only once
                // the audio is known to start nearby (TagLib would hunt for it).
                if (!firstFrame(in, audioStart)) {
                    throwNoAudio(source.path());
                }
                return std::nullopt;
            }
            parsed.items = std::move(*items);
        }
    }
    qint64 audioEnd = in.size();
    const QByteArray tail = in.readAtMost(std::max<qint64>(0, in.size() - 160), 160);
    const QByteArray v1 = tail.right(128);
    const bool hasV1 = v1.size() == 128 && v1.startsWith("TAG");
    if (hasV1) {
        audioEnd -= 128;
    }
    if (const auto ape = readApe(in, audioEnd)) {
        parsed.items.append(ape->items);
        audioEnd = ape->start;
    }
    if (hasV1) {
        appendID3v1(parsed.items, v1);
    }
    const std::optional<qint64> first = firstFrame(in, audioStart);
    if (!first) {
        throwNoAudio(source.path());
    }
    parsed.duration =
        roundedSeconds(mpegMilliseconds(in, *first, audioEnd < in.size() ? audioEnd - 1 : audioEnd));
    return parsed;
}

// --- AIFF and WAV -------------------------------------------------------------

namespace {

struct Chunk {
    QByteArray name;
    qint64 offset = 0; // of the body
    qint64 size = 0;
    qint64 padding = 0;
};

bool validChunkName(const QByteArray& name) {
    for (char c : name) {
        if (uint8_t(c) < 32 || uint8_t(c) > 126) {
            return false;
        }
    }
    return name.size() == 4;
}

// The chunks of a RIFF or FORM file as TagLib lists them: the walk ends at an
// invalid name or a chunk that runs past the end of the file.
QList<Chunk> listChunks(Window& in, bool bigEndian) {
    QList<Chunk> chunks;
    qint64 offset = 12;
    while (offset + 8 <= in.size() && chunks.size() < kMaxWalk) {
        const auto head = in.read(offset, 8);
        if (!head || !validChunkName(head->left(4))) {
            break;
        }
        Chunk chunk;
        chunk.name = head->left(4);
        chunk.size = bigEndian ? Bytes::u32BE(*head, 4) : Bytes::u32LE(*head, 4);
        chunk.offset = offset + 8;
        if (chunk.size > in.size() - chunk.offset) {
            break;
        }
        offset = chunk.offset + chunk.size;
        if (offset & 1) {
            const auto pad = in.read(offset, 1);
            if (pad && pad->at(0) == 0) {
                chunk.padding = 1;
                ++offset;
            }
        }
        chunks.append(chunk);
    }
    return chunks;
}

// An 80-bit IEEE extended value (the AIFF sample rate).
double extended80(const QByteArray& b, qint64 offset) {
    const int exponent = int(Bytes::u16BE(b, offset) & 0x7FFF);
    const uint64_t mantissa = Bytes::u64BE(b, offset + 2);
    if (exponent == 0 && mantissa == 0) {
        return 0.0;
    }
    return std::ldexp(double(mantissa), exponent - 16383 - 63);
}

// The fields of a RIFF INFO list as TagLib's generic tag reports them.
void appendInfo(QList<Item>& items, const QByteArray& list) {
    QMap<QByteArray, QString> fields;
    for (qint64 p = 4; p + 8 <= list.size();) {
        const qint64 size = Bytes::u32LE(list, p + 4);
        if (size > list.size() - p - 8) {
            break;
        }
        const QByteArray id = list.mid(p, 4);
        if (validChunkName(id)) {
            fields[id] = cutAtNul(QString::fromUtf8(list.mid(p + 8, size)));
        }
        p += ((size + 1) & ~qint64(1)) + 8;
    }
    QMap<QString, QString> properties; // sorted by name, as TagLib's map
    auto put = [&](const char* name, const QString& value) {
        if (!value.isEmpty()) {
            properties.insert(QLatin1String(name), value);
        }
    };
    put("TITLE", fields.value("INAM"));
    put("ARTIST", fields.value("IART"));
    put("ALBUM", fields.value("IPRD"));
    put("COMMENT", fields.value("ICMT"));
    put("GENRE", fields.value("IGNR"));
    const int year = fields.value("ICRD").left(4).toInt();
    put("DATE", year != 0 ? QString::number(year) : QString());
    const int track = fields.value("IPRT").toInt();
    put("TRACKNUMBER", track != 0 ? QString::number(track) : QString());
    for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
        items.append(
            makeItem(MediaAsset::keySpaceRIFFInfo, it.key(), commonKeyForProperty(it.key()), it.value()));
    }
}

} // namespace

std::optional<Parsed> readRiff(const ByteSource& source, bool aiff) {
    Window in(source);
    const auto magic = in.read(0, 4);
    if (!magic || *magic != (aiff ? QByteArrayLiteral("FORM") : QByteArrayLiteral("RIFF"))) {
        throwNoAudio(source.path());
    }
    const QList<Chunk> chunks = listChunks(in, aiff);
    Parsed parsed;
    std::optional<QByteArray> format;
    std::optional<QByteArray> info;
    bool haveTag = false;
    qint64 streamLength = 0;
    qint64 totalSamples = 0;
    for (const Chunk& c : chunks) {
        if (c.name == "ID3 " || c.name == "id3 ") {
            if (!haveTag) {
                haveTag = true;
                auto items = readID3v2Items(source, in, c.offset, c.offset + c.size);
                if (!items) {
                    return std::nullopt;
                }
                parsed.items = std::move(*items);
            }
        } else if (c.name == (aiff ? "COMM" : "fmt ")) {
            if (!format) {
                format = in.read(c.offset, std::min<qint64>(c.size, 64));
            }
        } else if (c.name == (aiff ? "SSND" : "data")) {
            if (streamLength == 0) {
                streamLength = c.size + c.padding;
            }
        } else if (!aiff && c.name == "fact") {
            if (totalSamples == 0) {
                totalSamples = Bytes::u32LE(in.readAtMost(c.offset, 4), 0);
            }
        } else if (!aiff && c.name == "LIST" && !info && c.size <= kMaxValueBody) {
            const auto list = in.read(c.offset, c.size);
            if (list && list->startsWith("INFO")) {
                info = list;
            }
        }
    }
    if (info) {
        appendInfo(parsed.items, *info);
    }
    double milliseconds = 0;
    int sampleRate = 0;
    if (aiff) {
        if (!format || format->size() < 18 || streamLength == 0) {
            throwNoAudio(source.path());
        }
        const double rate = extended80(*format, 8);
        sampleRate = rate >= 1.0 && rate <= 1e7 ? int(rate + 0.5) : 0;
        const qint64 frames = Bytes::u32BE(*format, 2);
        if (frames > 0 && sampleRate > 0) {
            milliseconds = double(frames) * 1000.0 / rate;
        }
    } else {
        if (!format || format->size() < 16 || streamLength == 0) {
            throwNoAudio(source.path());
        }
        const auto u16LE = [&](qint64 at) {
            return int(uint8_t(format->at(at)) | uint8_t(format->at(at + 1)) << 8);
        };
        const int tag = u16LE(0);
        const int channels = u16LE(2);
        sampleRate = int(Bytes::u32LE(*format, 4));
        const int bits = u16LE(14);
        const bool pcm = tag == 1 || tag == 3 || tag == 0xFFFE;
        qint64 frames = 0;
        if (!pcm || (tag == 3 && totalSamples > 0)) {
            frames = totalSamples;
        } else if (channels > 0 && bits > 0) {
            frames = streamLength / (qint64(channels) * ((bits + 7) / 8));
        }
        if (frames > 0 && sampleRate > 0) {
            milliseconds = double(frames) * 1000.0 / sampleRate;
        } else if (const qint64 perSecond = Bytes::u32LE(*format, 8); perSecond > 0) {
            milliseconds = double(streamLength) * 1000.0 / double(perSecond);
        }
    }
    if (sampleRate <= 0) {
        throwNoAudio(source.path());
    }
    parsed.duration = roundedSeconds(milliseconds);
    return parsed;
}

} // namespace media
