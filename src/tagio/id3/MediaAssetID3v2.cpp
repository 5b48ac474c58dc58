// The media layer for ID3v2 tags (in MP3 files and in the "ID3 " chunk of
// AIFF and WAV files): the tag's frames as items, as TagLib lists them.

#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/GenreNames.h"
#include "tagio/id3/ID3v2Frames.h"
#include "tagio/MediaAssetParts.h"

#include <QMap>

namespace media {

namespace {

using id3v2::FrameWalker;
using id3v2::RawFrame;
using id3v2::WalkStop;

// --- ID3v2 frame values --------------------------------------------------------

bool isUtf16(uint8_t encoding) {
    return encoding == 1 || encoding == 2;
}

// One field of a text frame, decoded as TagLib decodes it: lossily, where
// ID3v2Handler::decodeTextStrict refuses the whole text. Malformed UTF-8
// becomes replacement characters, unpaired UTF-16 units are kept, and the
// text ends at its first NUL. UTF-16 with a byte-order mark takes its order
// from the mark; without one it takes `order` (0 = none known, which TagLib
// reads as no text).
QString decodeFieldLossy(const QByteArray& bytes, uint8_t encoding, int& order) {
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
            fields.append(decodeFieldLossy(parts[i], encoding, order));
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
    decodeFieldLossy(parts[0], encoding, order);
    return decodeFieldLossy(parts[1], encoding, order);
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
    const QString date = decodeFieldLossy(dateBodies[0].mid(1), uint8_t(dateBodies[0][0]), order);
    if (date.size() != 4) {
        return;
    }
    QString text = tdrc->fields[0] + QLatin1Char('-') + date.mid(2, 2) + QLatin1Char('-') + date.left(2);
    const auto timeBodies = raw.value(QByteArrayLiteral("TIME"));
    if (timeBodies.size() == 1 && timeBodies[0].size() >= 5) {
        order = 0;
        const QString time = decodeFieldLossy(timeBodies[0].mid(1), uint8_t(timeBodies[0][0]), order);
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
    return ID3v2Handler::decodeTextStrict(body->mid(1), uint8_t(body->at(0)));
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

} // namespace media
