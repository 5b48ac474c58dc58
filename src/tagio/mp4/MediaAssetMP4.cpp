// The media layer for MP4/M4A files: the iTunes item list as items and the
// duration of the first sound track.

#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/GenreNames.h"
#include "tagio/mp4/MP4Atoms.h"
#include "tagio/mp4/MP4Handler.h"
#include "tagio/MediaAssetParts.h"

#include <QSet>

#include <limits>
#include <map>

namespace media {

namespace {

// An atom found by a header walk; `end` may lie past the end of its parent
// (as TagLib takes it), never past the end of the file. The walk follows
// TagLib's container rules, not MP4Handler::parseAtoms': a damaged header
// makes the file no MP4 file (the handler steps on to the next byte), and
// only TagLib's containers are opened. Sizes are read by mp4::atomExtent.
struct Box {
    QByteArray type;
    qint64 start = 0;
    qint64 end = 0;
    int header = 8;
    bool shortMeta = false; // a "meta" without version and flags (QuickTime style)
    QList<Box> children;

    const Box* child(const char* name) const {
        for (const Box& b : children) {
            if (b.type == name) {
                return &b;
            }
        }
        return nullptr;
    }
    const Box* path(std::initializer_list<const char*> names) const {
        const Box* at = this;
        for (const char* name : names) {
            if (!(at = at->child(name))) {
                return nullptr;
            }
        }
        return at;
    }
};

class BoxWalk {
public:
    explicit BoxWalk(Window& in) : m_in(in) {}

    // The atoms of [start, end), walked as TagLib walks them; false when an
    // atom header is damaged (TagLib then takes the file for no MP4 file).
    // Of the top level only the movie atoms are kept: a file may hold
    // thousands of other atoms there, and only a moov is ever looked up.
    bool walk(qint64 start, qint64 end, int depth, QList<Box>& out, bool topLevel) {
        static const QSet<QByteArray> containers = {"moov", "udta", "mdia", "meta", "ilst", "stbl",
                                                    "minf", "moof", "traf", "trak", "stsd"};
        qint64 o = start;
        while (topLevel ? o + 8 <= end : o < end) {
            if (++m_count > kMaxWalk) {
                return true;
            }
            auto h = m_in.read(o, 8);
            if (h && Bytes::u32BE(*h, 0) == 1) {
                h = m_in.read(o, 16); // a 64-bit size follows
            }
            if (!h) {
                return false;
            }
            Box box;
            box.start = o;
            box.type = h->mid(4, 4);
            // Size 0 runs to the end of the file, not of the parent (as TagLib takes it).
            const mp4::AtomExtent extent = mp4::atomExtent(*h, 0, m_in.size() - o);
            const uint64_t length = extent.length;
            box.header = extent.headerLength;
            if (length < 8 || length > uint64_t(std::numeric_limits<qint64>::max() / 2)) {
                return false;
            }
            box.end = o + qint64(std::min<uint64_t>(length, uint64_t(m_in.size() - o)));
            if (containers.contains(box.type) && depth < 32) {
                qint64 childStart = o + box.header;
                if (box.type == "meta") {
                    const auto next = m_in.read(childStart + 4, 4);
                    static const QSet<QByteArray> direct = {"hdlr", "ilst", "mhdr", "ctry", "lang"};
                    if (!next || !direct.contains(*next)) {
                        childStart += 4;
                    } else {
                        box.shortMeta = true;
                    }
                } else if (box.type == "stsd") {
                    childStart += 8;
                }
                if (!walk(childStart, o + qint64(length), depth + 1, box.children, false)) {
                    return false;
                }
            }
            if (!topLevel || box.type == "moov") {
                out.append(std::move(box));
            }
            o += qint64(length);
        }
        return true;
    }

private:
    Window& m_in;
    int m_count = 0;
};

struct DataAtom {
    uint32_t flags = 0;
    qint64 payload = 0; // offset
    qint64 length = 0;  // of the payload
    QByteArray bytes;   // the payload, unless it is over the read's value caps
};

// The "data" atoms of an item (mean and name first for a free-form item), by
// header reads; payloads are read unless `headersOnly`. TagLib stops at the
// first atom that is too short or of another type.
QList<DataAtom> dataAtoms(Window& in, const Box& item, bool freeForm, bool headersOnly) {
    QList<DataAtom> out;
    qint64 pos = item.start + 8;
    const qint64 end = item.end;
    for (int i = 0; pos < end && i < kMaxWalk; ++i) {
        const auto h = in.read(pos, 12);
        if (!h) {
            break;
        }
        const qint64 length = Bytes::u32BE(*h, 0);
        if (length < 12) {
            break;
        }
        const QByteArray name = h->mid(4, 4);
        DataAtom atom;
        atom.flags = Bytes::u32BE(*h, 8);
        if (freeForm && i < 2) {
            if (name != (i == 0 ? "mean" : "name")) {
                break;
            }
            atom.payload = pos + 12;
            atom.length = length - 12;
        } else {
            if (name != "data") {
                break;
            }
            atom.payload = pos + 16;
            atom.length = length - 16;
        }
        atom.length = std::max<qint64>(0, std::min(atom.length, end - atom.payload));
        if (!headersOnly && in.spend(atom.length)) {
            atom.bytes = in.readAtMost(atom.payload, atom.length);
        }
        out.append(std::move(atom));
        pos += length;
    }
    return out;
}

QString utf8(const QByteArray& bytes) {
    return cutAtNul(QString::fromUtf8(bytes));
}

int16_t s16(const QByteArray& b, qint64 offset) {
    return int16_t(Bytes::u16BE(b, offset));
}

struct Value {
    std::optional<QString> text;
    std::optional<qint64> number;
};

// The item's value as TagLib's MP4 tag gives it, or no value when TagLib
// keeps no item for it. `key` may change (a "gnre" number becomes "©gen").
std::optional<Value> itemValue(Window& in, const Box& item, QString& key) {
    static const QSet<QByteArray> bools = {"cpil", "pgap", "pcst", "hdvd", "shwm"};
    static const QSet<QByteArray> ints = {"tmpo", "\xA9mvi", "\xA9mvc"};
    static const QSet<QByteArray> uints = {"tvsn", "tves", "cnID", "sfID", "atID", "geID", "cmID"};
    static const QSet<QByteArray> bytes = {"stik", "rtng", "akID"};
    const QByteArray& type = item.type;
    if (type == "covr") {
        for (const DataAtom& d : dataAtoms(in, item, false, true)) {
            if (d.flags == 13 || d.flags == 14 || d.flags == 27 || d.flags == 12 || d.flags == 0) {
                return Value{};
            }
        }
        return std::nullopt;
    }
    if (type == "----") {
        const QList<DataAtom> atoms = dataAtoms(in, item, true, false);
        if (atoms.size() <= 2) {
            return std::nullopt;
        }
        key = QStringLiteral("----:") + utf8(atoms[0].bytes) + QLatin1Char(':') + utf8(atoms[1].bytes);
        QStringList texts;
        for (qsizetype i = 2; i < atoms.size() && atoms[i].flags == atoms[2].flags; ++i) {
            texts.append(utf8(atoms[i].bytes));
        }
        if (atoms[2].flags != 1) {
            return Value{};
        }
        return Value{texts.join(QLatin1String(kValueSeparator)), std::nullopt};
    }
    const bool numeric = type == "trkn" || type == "disk" || bools.contains(type) || ints.contains(type) ||
                         uints.contains(type) || bytes.contains(type) || type == "plID" || type == "gnre";
    QList<DataAtom> atoms = dataAtoms(in, item, false, false);
    if (!numeric && type != "purl" && type != "egid") {
        atoms.removeIf([](const DataAtom& d) { return d.flags != 1; }); // text items: UTF-8 data only
    }
    if (atoms.isEmpty()) {
        return std::nullopt;
    }
    const QByteArray& first = atoms[0].bytes;
    Value v;
    if (type == "trkn" || type == "disk") {
        v.number = s16(first, 2);
    } else if (bools.contains(type)) {
        v.number = (!first.isEmpty() && first[0] != 0) ? 1 : 0;
    } else if (ints.contains(type)) {
        v.number = s16(first, 0);
    } else if (uints.contains(type)) {
        v.number = Bytes::u32BE(first, 0);
    } else if (bytes.contains(type)) {
        v.number = first.isEmpty() ? 0 : uint8_t(first[0]);
    } else if (type == "plID") {
        v.number = qint64(Bytes::u64BE(first, 0));
    } else if (type == "gnre") {
        const int n = s16(first, 0);
        if (n <= 0) {
            return std::nullopt;
        }
        key = QStringLiteral("\u00A9gen");
        v.text = genreNameForNumber(n - 1, extendedGenreNames()).value_or(QString());
    } else {
        QStringList texts;
        for (const DataAtom& d : atoms) {
            texts.append(utf8(d.bytes));
        }
        v.text = texts.join(QLatin1String(kValueSeparator));
    }
    return v;
}

// Milliseconds and sample rate of the first sound track, as TagLib reads them.
std::pair<double, qint64> soundTrack(Window& in, const Box& moov) {
    const Box* trak = nullptr;
    for (const Box& t : moov.children) {
        if (t.type != "trak") {
            continue;
        }
        const Box* hdlr = t.path({"mdia", "hdlr"});
        if (!hdlr) {
            return {0, 0};
        }
        if (in.read(hdlr->start + 16, 4) == QByteArrayLiteral("soun")) {
            trak = &t;
            break;
        }
    }
    const Box* mdhd = trak ? trak->path({"mdia", "mdhd"}) : nullptr;
    if (!mdhd) {
        return {0, 0};
    }
    const QByteArray head = in.readAtMost(mdhd->start, 44);
    qint64 unit = 0;
    qint64 length = 0;
    if (Bytes::u8(head, 8) == 1) {
        if (head.size() < 44) {
            return {0, 0};
        }
        unit = Bytes::u32BE(head, 28);
        length = qint64(Bytes::u64BE(head, 32) & 0x7FFFFFFFFFFFFFFFULL);
    } else {
        if (head.size() < 32) {
            return {0, 0};
        }
        unit = Bytes::u32BE(head, 20);
        length = Bytes::u32BE(head, 24);
    }
    const double milliseconds = (unit > 0 && length > 0) ? double(length) * 1000.0 / double(unit) : 0.0;
    const Box* stsd = trak->path({"mdia", "minf", "stbl", "stsd"});
    if (!stsd) {
        return {milliseconds, 0};
    }
    const QByteArray entry = in.readAtMost(stsd->start, std::min<qint64>(stsd->end - stsd->start, 4096));
    qint64 rate = 0;
    if (entry.mid(20, 4) == "mp4a") {
        rate = Bytes::u32BE(entry, 46);
    } else if (entry.mid(20, 4) == "alac" && stsd->end - stsd->start == 88 && entry.mid(56, 4) == "alac") {
        rate = Bytes::u32BE(entry, 84);
    }
    return {milliseconds, rate};
}

} // namespace

// What MP4Handler's year and genre reads find in the item list: they pick
// the same list as TagLib where moov/udta/meta holds one, and read its items
// with the handler's own item readers.
static void findDirect(Window& in, const Box& moov, const MP4Handler& handler, DirectFrames& direct) {
    const Box* udta = moov.child("udta");
    const Box* meta = udta ? udta->child("meta") : nullptr;
    if (!meta || meta->shortMeta) {
        direct.known = false; // the handler looks further, or walks the list differently
        return;
    }
    const Box* ilst = meta->child("ilst");
    if (!ilst) {
        return;
    }
    auto image = [&](const Box& item) -> std::optional<mp4::ItemImage> {
        if (item.end > ilst->end || !in.spend(item.end - item.start)) {
            direct.known = false;
            return std::nullopt;
        }
        return mp4::itemImage(in.readAtMost(item.start, item.end - item.start),
                              QString::fromLatin1(item.type), item.header);
    };
    const Box* day = ilst->child("\xA9"
                                 "day");
    const Box* gen = ilst->child("\xA9gen");
    const Box* gnre = ilst->child("gnre");
    if (day) {
        if (const auto item = image(*day)) {
            direct.yearText = MP4Handler::readItemText(item->atom, item->bytes);
        }
    }
    if (gen) {
        if (const auto item = image(*gen)) {
            direct.genre = MP4Handler::readItemText(item->atom, item->bytes);
        }
    }
    if (!direct.genre && gnre) {
        if (const auto item = image(*gnre)) {
            direct.genre = handler.readGenreNumber(item->atom, item->bytes);
        }
    }
}

Parsed readMp4(const ByteSource& source, const MP4Handler* handler, DirectFrames* direct) {
    Window in(source);
    QList<Box> top;
    if (!BoxWalk(in).walk(0, in.size(), 0, top, true)) {
        throwNoAudio(source.path());
    }
    const Box* moov = nullptr;
    for (const Box& b : top) {
        if (b.type == "moov") {
            moov = &b;
            break;
        }
    }
    if (!moov) {
        throwNoAudio(source.path());
    }
    Parsed parsed;
    if (handler && direct) {
        findDirect(in, *moov, *handler, *direct);
    }
    if (const Box* ilst = moov->path({"udta", "meta", "ilst"})) {
        std::map<QString, Value> items; // TagLib keeps them sorted by key, the first of a key
        for (const Box& item : ilst->children) {
            QString key = cutAtNul(QString::fromLatin1(item.type));
            if (std::optional<Value> value = itemValue(in, item, key)) {
                items.emplace(key, std::move(*value));
            }
        }
        for (const auto& [key, value] : items) {
            parsed.items.append(
                makeItem(MediaAsset::keySpaceiTunes, key, mp4CommonKey(key), value.text, value.number));
        }
    }
    const auto [milliseconds, rate] = soundTrack(in, *moov);
    if (rate <= 0) {
        throwNoAudio(source.path());
    }
    parsed.duration = roundedSeconds(milliseconds);
    return parsed;
}

} // namespace media
