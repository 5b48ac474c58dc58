#include "tagio/MP4Handler.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "model/DecadeRule.h"
#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"

#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr qint64 kMax32 = 0xFFFFFFFFLL;

QString typeText(const QByteArray& bytes, qint64 offset) {
    if (!Bytes::fits(bytes.size(), offset, 4)) {
        return QStringLiteral("????");
    }
    return QString::fromLatin1(bytes.constData() + offset, 4);
}

QByteArray typeBytes(const QString& type) {
    QByteArray latin = type.toLatin1();
    if (QString::fromLatin1(latin) != type) {
        latin = type.left(4).toUtf8();
    }
    return latin.left(4).leftJustified(4, '\0');
}

const QSet<QString>& containerTypes() {
    static const QSet<QString> types = [] {
        const char* const names[] = {
            "moov", "udta", "trak", "mdia", "minf", "dinf",    "stbl", "edts", "mvex", "moof",
            "traf", "mfra", "skip", "meta", "ilst", "\xA9gen", "gnre", "aART", "soal", "soar",
            "soaa", "sonm", "soco", "sosn", "tvsh", "disk",    "trkn", "cpil", "pgap", "tmpo",
            "rtng", "stik", "pcst", "catg", "keyw", "purl",    "egid", "desc", "ldes", "tvnn",
            "tvep", "tvsn", "itnu", "sfID", "gnID", "atID",    "plID", "cnID", "akID"};
        QSet<QString> set;
        for (const char* name : names) {
            set.insert(QString::fromLatin1(name));
        }
        return set;
    }();
    return types;
}

const QString kMoov = QStringLiteral("moov");
const QString kUdta = QStringLiteral("udta");
const QString kMeta = QStringLiteral("meta");
const QString kIlst = QStringLiteral("ilst");
const QString kHdlr = QStringLiteral("hdlr");
const QString kMdat = QStringLiteral("mdat");
const QString kGen = QStringLiteral("\u00A9gen");
const QString kGnre = QStringLiteral("gnre");
const QString kDay = QStringLiteral("\u00A9day");
const QString kNam = QStringLiteral("\u00A9nam");
const QString kArt = QStringLiteral("\u00A9ART");

// Length and header length of the atom whose header starts at `offset` of
// `bytes`, with `remaining` bytes left at its level: size 1 means a 64-bit
// size follows (when there is room for it), size 0 means "to the end". A
// length below the header length marks no atom.
struct AtomExtent {
    uint64_t length = 0;
    int headerLength = 8;
    bool toEnd = false;
};

AtomExtent atomExtent(const QByteArray& bytes, qint64 offset, qint64 remaining) {
    AtomExtent extent;
    const uint32_t size32 = Bytes::u32BE(bytes, offset);
    if (size32 == 1) {
        if (remaining >= 16) {
            extent.length = Bytes::u64BE(bytes, offset + 8);
            extent.headerLength = 16;
        }
    } else if (size32 == 0) {
        extent.length = uint64_t(remaining);
        extent.toEnd = true;
    } else {
        extent.length = size32;
    }
    return extent;
}

void parseLevel(const QByteArray& bytes, qint64 start, qint64 end, int depth, QList<MP4Handler::Atom>& out) {
    end = std::min<qint64>(end, bytes.size());
    qint64 o = start;
    while (o >= 0 && end - o >= 8) {
        const AtomExtent extent = atomExtent(bytes, o, end - o);
        const uint64_t length = extent.length;
        const int header = extent.headerLength;
        const bool toEnd = extent.toEnd;
        if (length < uint64_t(header)) {
            ++o; // no atom here; try again at the next byte
            continue;
        }
        MP4Handler::Atom atom;
        atom.type = typeText(bytes, o + 4);
        atom.start = o;
        atom.clamped = length > uint64_t(end - o);
        atom.end = atom.clamped ? end : o + qint64(length);
        atom.headerLength = header;
        atom.sizeToEnd = toEnd;
        if (depth + 1 < MP4Handler::maxDepth && MP4Handler::isContainerType(atom.type)) {
            const qint64 childStart = o + header + (atom.type == kMeta ? 4 : 0);
            if (childStart < atom.end) {
                parseLevel(bytes, childStart, atom.end, depth + 1, atom.children);
            }
        }
        o = atom.end;
        out.append(std::move(atom));
    }
}

const MP4Handler::Atom* firstChild(const QList<MP4Handler::Atom>& atoms, const QString& type) {
    for (const auto& atom : atoms) {
        if (atom.type == type) {
            return &atom;
        }
    }
    return nullptr;
}

// Scans the item's bytes for the first "data" atom that `accept` takes and
// returns its offset; `minSize` is the smallest size that qualifies.
std::optional<qint64> findDataAtom(const MP4Handler::Atom& item, const QByteArray& bytes, uint32_t minSize,
                                   qint64 neededAfterStart) {
    const qint64 end = std::min<qint64>(item.end, bytes.size());
    qint64 p = item.payloadStart();
    if (end - p < 8) {
        return std::nullopt;
    }
    for (;;) {
        const uint32_t s = Bytes::u32BE(bytes, p);
        const bool isData = std::memcmp(bytes.constData() + p + 4, "data", 4) == 0;
        if (isData && s >= minSize && qint64(s) <= end - p && neededAfterStart <= end - p) {
            return p;
        }
        if (s == 0) {
            return std::nullopt;
        }
        p += s;
        if (end - p < 8) {
            return std::nullopt;
        }
    }
}

std::optional<QString> strictUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

// --- movie reading from a file, by positioned reads -----------------------

struct MovieImage {
    QByteArray bytes;      // the moov atom, whole
    MP4Handler::Atom atom; // its parse, offsets relative to `bytes`
};

[[noreturn]] void throwRead(const QString& path, const QString& text) {
    throw AppError::tagReadFailed(path, text);
}

ByteSource openSource(const QString& path) {
    std::optional<ByteSource> source = ByteSource::open(path);
    if (!source) {
        throwRead(path, QFileInfo::exists(path) ? QStringLiteral("Datei konnte nicht geöffnet werden")
                                                : QStringLiteral("Datei nicht gefunden"));
    }
    return std::move(*source);
}

// Reads a file by positioned reads through a window of 64 KB, so that a walk
// over the atom headers of one region costs few system calls.
class WindowReader {
public:
    WindowReader(const ByteSource& source, const QString& path) : m_source(source), m_path(path) {}

    qint64 size() const { return m_source.size(); }

    // The 16 bytes at `o` (fewer only at the end of the file).
    QByteArray header(qint64 o) { return bytes(o, 16, false); }

    // Exactly the `length` bytes at `o`, which must lie inside the file.
    QByteArray exactly(qint64 o, qint64 length) { return bytes(o, length, true); }

private:
    static constexpr qint64 windowSize = 64 * 1024;

    QByteArray bytes(qint64 o, qint64 length, bool exact) {
        if (o >= m_windowStart && o - m_windowStart <= m_window.size() &&
            length <= m_window.size() - (o - m_windowStart)) {
            return m_window.mid(o - m_windowStart, length);
        }
        if (exact && length > windowSize) {
            std::optional<QByteArray> data = m_source.read(o, length);
            if (!data) {
                throwRead(m_path, QStringLiteral("Datei konnte nicht gelesen werden"));
            }
            return std::move(*data);
        }
        m_windowStart = o;
        m_window = m_source.readAtMost(o, windowSize);
        if ((m_window.isEmpty() && o < m_source.size()) || (exact && m_window.size() < length)) {
            throwRead(m_path, QStringLiteral("Datei konnte nicht gelesen werden"));
        }
        return m_window.left(length);
    }

    const ByteSource& m_source;
    const QString& m_path;
    QByteArray m_window;
    qint64 m_windowStart = 0;
};

// Where the first top-level moov lies in the file; `end` is clamped to the file size.
struct MovieLocation {
    qint64 start = 0;
    qint64 end = 0;
    int headerLength = 8;
};

// Follows the top-level atom walk of parseAtoms with header reads only and
// finds the first top-level moov; no value when there is none.
std::optional<MovieLocation> locateMovie(WindowReader& reader, const QString& path) {
    const qint64 size = reader.size();
    qint64 o = 0;
    while (size - o >= 8) {
        const QByteArray h = reader.header(o);
        if (h.size() < 8) {
            throwRead(path, QStringLiteral("Datei konnte nicht gelesen werden"));
        }
        const AtomExtent extent = atomExtent(h, 0, size - o);
        const uint64_t length = extent.length;
        const int headerLength = extent.headerLength;
        if (length < uint64_t(headerLength)) {
            ++o;
            continue;
        }
        const qint64 end = length > uint64_t(size - o) ? size : o + qint64(length);
        if (std::memcmp(h.constData() + 4, "moov", 4) == 0) {
            return MovieLocation{o, end, headerLength};
        }
        o = end;
    }
    return std::nullopt;
}

// The located moov, read whole and parsed.
MovieImage readWholeMovie(const ByteSource& source, const MovieLocation& at, const QString& path) {
    std::optional<QByteArray> bytes = source.read(at.start, at.end - at.start);
    if (!bytes) {
        throwRead(path, QStringLiteral("Datei konnte nicht gelesen werden"));
    }
    MovieImage movie;
    movie.bytes = std::move(*bytes);
    movie.atom.type = kMoov;
    movie.atom.start = 0;
    movie.atom.end = movie.bytes.size();
    movie.atom.headerLength = at.headerLength;
    if (at.headerLength < movie.atom.end) {
        parseLevel(movie.bytes, at.headerLength, movie.atom.end, 1, movie.atom.children);
    }
    return movie;
}

// --- the strict walk of the sample tables -----------------------------------

struct ChunkTable {
    qint64 entries = 0; // offset of the first entry
    bool wide = false;  // co64
    uint32_t count = 0;
};

struct TableWalk {
    bool complete = true;
    bool auxiliaryOffsets = false;
    QList<ChunkTable> tables;
};

struct StrictHeader {
    qint64 length = 0;
    int headerLength = 8;
};

// An atom header at o whose whole extent lies inside [o, end), else no value.
std::optional<StrictHeader> strictHeader(const QByteArray& b, qint64 o, qint64 end) {
    if (end - o < 8) {
        return std::nullopt;
    }
    const uint32_t s = Bytes::u32BE(b, o);
    if (s == 1) {
        if (end - o < 16) {
            return std::nullopt;
        }
        const uint64_t l = Bytes::u64BE(b, o + 8);
        if (l < 16 || l > uint64_t(end - o)) {
            return std::nullopt;
        }
        return StrictHeader{qint64(l), 16};
    }
    if (s == 0) {
        return StrictHeader{end - o, 8};
    }
    if (s < 8 || qint64(s) > end - o) {
        return std::nullopt;
    }
    return StrictHeader{qint64(s), 8};
}

// Walks moov -> trak -> mdia -> minf -> stbl, the only place a player reads
// chunk offsets from. Every atom on those levels must have a sound header.
void walkSampleTables(const QByteArray& b, qint64 start, qint64 end, int level, TableWalk& walk) {
    static const char* const path[] = {"trak", "mdia", "minf", "stbl"};
    qint64 o = start;
    while (o < end) {
        if (end - o < 8) {
            // A short tail is accepted only as zero padding.
            for (qint64 k = o; k < end; ++k) {
                if (b[k] != 0) {
                    walk.complete = false;
                }
            }
            return;
        }
        const std::optional<StrictHeader> h = strictHeader(b, o, end);
        if (!h) {
            walk.complete = false;
            return;
        }
        const qint64 payload = o + h->headerLength;
        const qint64 atomEnd = o + h->length;
        const char* type = b.constData() + o + 4;
        if (level < 4) {
            if (std::memcmp(type, path[level], 4) == 0) {
                walkSampleTables(b, payload, atomEnd, level + 1, walk);
            }
        } else if (std::memcmp(type, "stco", 4) == 0 || std::memcmp(type, "co64", 4) == 0) {
            const bool wide = type[0] == 'c';
            const qint64 entrySize = wide ? 8 : 4;
            if (atomEnd - payload < 8) {
                walk.complete = false;
                return;
            }
            const uint32_t count = Bytes::u32BE(b, payload + 4);
            if (qint64(count) > (atomEnd - payload - 8) / entrySize) {
                walk.complete = false; // the table claims more entries than it holds
                return;
            }
            walk.tables.append(ChunkTable{payload + 8, wide, count});
        } else if (std::memcmp(type, "saio", 4) == 0) {
            walk.auxiliaryOffsets = true;
        }
        o = atomEnd;
    }
}

TableWalk walkMovie(const QByteArray& b, qint64 start, qint64 end) {
    TableWalk walk;
    if (start < 0 || end > b.size() || start > end) {
        walk.complete = false;
        return walk;
    }
    walkSampleTables(b, start, end, 0, walk);
    return walk;
}

uint64_t entryAt(const QByteArray& b, const ChunkTable& t, qint64 k) {
    return t.wide ? Bytes::u64BE(b, t.entries + 8 * k) : Bytes::u32BE(b, t.entries + 4 * k);
}

// --- building ----------------------------------------------------------------

class MovieBuilder {
public:
    MovieBuilder(const QByteArray& bytes, const QString& path) : m_bytes(bytes), m_path(path) {}

    [[noreturn]] void fail(const QString& text) const { throw AppError::tagWriteFailed(m_path, text); }

    QByteArray makeAtom(const QString& type, const QByteArray& payload) const {
        if (qint64(payload.size()) > kMax32 - 8) {
            fail(QStringLiteral("The '%1' atom would exceed 4 GiB").arg(type));
        }
        QByteArray out;
        out.reserve(payload.size() + 8);
        Bytes::appendU32BE(out, uint32_t(payload.size() + 8));
        out.append(typeBytes(type));
        out.append(payload);
        return out;
    }

    QByteArray makeTextItem(const QString& key, const QString& text) const {
        QByteArray data;
        Bytes::appendU32BE(data, 1); // UTF-8 text
        Bytes::appendU32BE(data, 0); // locale
        data.append(text.toUtf8());
        return makeAtom(key, makeAtom(QStringLiteral("data"), data));
    }

    static QByteArray handlerAtom() {
        QByteArray h;
        Bytes::appendU32BE(h, 33);
        h.append("hdlr", 4);
        Bytes::appendU32BE(h, 0); // version and flags
        Bytes::appendU32BE(h, 0); // pre-defined
        h.append("mdir", 4);
        h.append("appl", 4);
        Bytes::appendU32BE(h, 0);
        Bytes::appendU32BE(h, 0);
        h.append('\0'); // empty name
        return h;
    }

    // The atom's bytes unchanged, except that a size field that no longer
    // describes the atom once something follows it (size 0, or a size that
    // ran past its container) is written as the atom's real length.
    void copy(const MP4Handler::Atom& atom, QByteArray& out) const {
        if (!Bytes::fits(m_bytes.size(), atom.start, atom.length()) || atom.length() < atom.headerLength) {
            return;
        }
        const qint64 at = out.size();
        out.append(m_bytes.constData() + atom.start, atom.length());
        if (atom.sizeToEnd || atom.clamped) {
            if (atom.headerLength == 16) {
                Bytes::putU64BE(out, at + 8, uint64_t(atom.length()));
            } else if (atom.length() <= kMax32) {
                Bytes::putU32BE(out, at, uint32_t(atom.length()));
            } else {
                fail(QStringLiteral("The '%1' atom would exceed 4 GiB").arg(atom.type));
            }
        }
    }

    QByteArray payloadBytes(const MP4Handler::Atom& atom, qint64 skip) const {
        const qint64 from = atom.payloadStart() + skip;
        if (from >= atom.end) {
            return {};
        }
        return m_bytes.mid(from, atom.end - from);
    }

    // A QuickTime-style meta has no version and flags: its payload starts
    // with a child atom (hdlr or keys) where an iTunes meta has 00 00 00 00.
    bool isQuickTimeMeta(const MP4Handler::Atom& meta) const {
        const qint64 p = meta.payloadStart();
        if (!Bytes::fits(m_bytes.size(), p, 8) || p + 8 > meta.end) {
            return false;
        }
        const uint32_t size = Bytes::u32BE(m_bytes, p);
        const char* type = m_bytes.constData() + p + 4;
        return size >= 8 && (std::memcmp(type, "hdlr", 4) == 0 || std::memcmp(type, "keys", 4) == 0);
    }

    // A meta that is not an iTunes item list: QuickTime-style, or one whose
    // handler names another kind of metadata (such as "mdta" with a keys
    // table, whose items are numbered, not named). It is left as it is.
    bool isForeignMeta(const MP4Handler::Atom& meta) const {
        if (isQuickTimeMeta(meta)) {
            return true;
        }
        const MP4Handler::Atom* handler = firstChild(meta.children, kHdlr);
        if (!handler) {
            return false;
        }
        const qint64 kind = handler->payloadStart() + 8; // after version, flags and pre-defined
        return handler->end - kind >= 4 && std::memcmp(m_bytes.constData() + kind, "mdir", 4) != 0;
    }

    QByteArray m_genre, m_year, m_title, m_artist; // built items (year/title/artist empty when not given)
    bool m_hasYear = false, m_hasTitle = false, m_hasArtist = false;

    QByteArray newItemsOnly() const {
        QByteArray out = m_genre;
        if (m_hasYear) {
            out += m_year;
        }
        if (m_hasTitle) {
            out += m_title;
        }
        if (m_hasArtist) {
            out += m_artist;
        }
        return out;
    }

    QByteArray rebuildItemList(const MP4Handler::Atom& ilst) const {
        QByteArray out;
        bool genreWritten = false, yearWritten = false, titleWritten = false, artistWritten = false;
        for (const auto& child : ilst.children) {
            if (child.type == kGen || child.type == kGnre) {
                if (!genreWritten) {
                    out += m_genre;
                    genreWritten = true;
                }
            } else if (child.type == kDay) {
                if (!m_hasYear) {
                    copy(child, out);
                } else if (!yearWritten) {
                    out += m_year;
                    yearWritten = true;
                }
            } else if (child.type == kNam && m_hasTitle && !titleWritten) {
                out += m_title;
                titleWritten = true;
            } else if (child.type == kArt && m_hasArtist && !artistWritten) {
                out += m_artist;
                artistWritten = true;
            } else {
                copy(child, out);
            }
        }
        if (!genreWritten) {
            out += m_genre;
        }
        if (m_hasYear && !yearWritten) {
            out += m_year;
        }
        if (m_hasTitle && !titleWritten) {
            out += m_title;
        }
        if (m_hasArtist && !artistWritten) {
            out += m_artist;
        }
        return out;
    }

    QByteArray newMeta() const {
        QByteArray payload(4, '\0');
        payload += handlerAtom();
        payload += makeAtom(kIlst, newItemsOnly());
        return makeAtom(kMeta, payload);
    }

    // An iTunes meta rebuilt: its first ilst replaced (or a new one
    // appended), later ilsts kept, and a handler added when it had none.
    QByteArray rebuildMeta(const MP4Handler::Atom& meta) const {
        const bool hasHandler = firstChild(meta.children, kHdlr) != nullptr;
        const MP4Handler::Atom* ilst = firstChild(meta.children, kIlst);
        QByteArray payload;
        if (ilst) {
            payload.append(4, '\0');
        } else {
            QByteArray versionAndFlags = payloadBytes(meta, 0).left(4);
            payload += versionAndFlags.leftJustified(4, '\0');
        }
        if (!hasHandler) {
            payload += handlerAtom();
        }
        for (const auto& child : meta.children) {
            if (&child == ilst) {
                payload += makeAtom(kIlst, rebuildItemList(child));
            } else {
                copy(child, payload);
            }
        }
        if (!ilst) {
            payload += makeAtom(kIlst, newItemsOnly());
        }
        return makeAtom(kMeta, payload);
    }

    QByteArray rebuildUserData(const MP4Handler::Atom& udta) const {
        const MP4Handler::Atom* meta = firstChild(udta.children, kMeta);
        QByteArray payload;
        if (!meta) {
            for (const auto& child : udta.children) {
                copy(child, payload);
            }
            payload += newMeta();
            return payload;
        }
        const bool foreign = isForeignMeta(*meta);
        for (const auto& child : udta.children) {
            if (&child == meta) {
                if (foreign) {
                    // Ours goes first, so that readers that take the first meta find it.
                    payload += newMeta();
                    copy(child, payload);
                } else {
                    payload += rebuildMeta(child);
                }
            } else {
                copy(child, payload);
            }
        }
        return payload;
    }

    QByteArray rebuildMovie(const MP4Handler::Atom& moov) const {
        QByteArray payload;
        const MP4Handler::Atom* udta = firstChild(moov.children, kUdta);
        const MP4Handler::Atom* meta = udta ? nullptr : firstChild(moov.children, kMeta);
        const bool rebuildDirectMeta = meta && !isForeignMeta(*meta);
        for (const auto& child : moov.children) {
            if (&child == udta) {
                payload += makeAtom(kUdta, rebuildUserData(child));
            } else if (rebuildDirectMeta && &child == meta) {
                payload += rebuildMeta(child);
            } else {
                copy(child, payload);
            }
        }
        if (!udta && !rebuildDirectMeta) {
            payload += makeAtom(kUdta, newMeta());
        }
        return payload;
    }

private:
    const QByteArray& m_bytes;
    QString m_path;
};

} // namespace

MP4Handler::MP4Handler(QStringList id3v1GenreNames) : m_id3Genres(std::move(id3v1GenreNames)) {}

bool MP4Handler::isContainerType(const QString& type) {
    return containerTypes().contains(type);
}

QList<MP4Handler::Atom> MP4Handler::parseAtoms(const QByteArray& bytes, qint64 start, qint64 end) {
    QList<Atom> atoms;
    parseLevel(bytes, start, end, 0, atoms);
    return atoms;
}

std::optional<MP4Handler::Atom> MP4Handler::findItemList(const QList<Atom>& movieChildren) {
    const Atom* udta = firstChild(movieChildren, kUdta);
    if (udta) {
        if (const Atom* meta = firstChild(udta->children, kMeta)) {
            const Atom* ilst = firstChild(meta->children, kIlst);
            return ilst ? std::optional<Atom>(*ilst) : std::nullopt;
        }
    }
    const Atom* meta = firstChild(movieChildren, kMeta);
    if (!meta) {
        return std::nullopt;
    }
    const Atom* ilst = firstChild(meta->children, kIlst);
    return ilst ? std::optional<Atom>(*ilst) : std::nullopt;
}

std::optional<QString> MP4Handler::readItemText(const Atom& item, const QByteArray& bytes) {
    const std::optional<qint64> p = findDataAtom(item, bytes, 16, 16);
    if (!p) {
        return std::nullopt;
    }
    const uint32_t s = Bytes::u32BE(bytes, *p);
    if (!Bytes::fits(bytes.size(), *p, s)) {
        return std::nullopt;
    }
    return strictUtf8(bytes.mid(*p + 16, qint64(s) - 16));
}

std::optional<QString> MP4Handler::readGenreNumber(const Atom& item, const QByteArray& bytes) const {
    const std::optional<qint64> p = findDataAtom(item, bytes, 10, 18);
    if (!p) {
        return std::nullopt;
    }
    const qsizetype n = qsizetype(Bytes::u16BE(bytes, *p + 16));
    if (n == 0 || n > m_id3Genres.size()) {
        return std::nullopt;
    }
    return m_id3Genres.at(n - 1);
}

namespace {

// --- the item list by a walk over atom headers -------------------------------
//
// The walk follows the levels moov, udta, meta and ilst exactly as parseLevel
// builds them and reads only the bodies of the items it needs, never a cover.
// Where parseLevel would have to step over bytes that hold no atom, the walk
// gives up and the caller reads the whole moov instead.

struct HeaderAtom {
    qint64 start = 0;
    qint64 end = 0;
    int headerLength = 8;
    char type[4] = {};

    bool is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
};

// "©day" ("\xA9day" would read as one hex escape).
constexpr char kDayType[4] = {'\xA9', 'd', 'a', 'y'};

enum class LevelWalk { finished, stopped, damaged };

// Visits the atoms of [start, end) in order until `visit` returns false.
template <typename Visit> LevelWalk walkLevel(WindowReader& reader, qint64 start, qint64 end, Visit&& visit) {
    qint64 o = start;
    while (o >= 0 && end - o >= 8) {
        const QByteArray h = reader.header(o);
        if (h.size() < 8) {
            return LevelWalk::damaged; // not reached: end lies inside the file
        }
        const AtomExtent extent = atomExtent(h, 0, end - o);
        const uint64_t length = extent.length;
        const int headerLength = extent.headerLength;
        if (length < uint64_t(headerLength)) {
            return LevelWalk::damaged;
        }
        HeaderAtom atom;
        atom.start = o;
        atom.end = length > uint64_t(end - o) ? end : o + qint64(length);
        atom.headerLength = headerLength;
        std::memcpy(atom.type, h.constData() + 4, 4);
        if (!visit(atom)) {
            return LevelWalk::stopped;
        }
        o = atom.end;
    }
    return LevelWalk::finished;
}

// The first atom of type `name` in [start, end); `damaged` is set when the
// walk met damage before finding one.
std::optional<HeaderAtom> findOnLevel(WindowReader& reader, qint64 start, qint64 end, const char* name,
                                      bool& damaged) {
    std::optional<HeaderAtom> found;
    const LevelWalk walk = walkLevel(reader, start, end, [&](const HeaderAtom& atom) {
        if (atom.is(name)) {
            found = atom;
            return false;
        }
        return true;
    });
    damaged = walk == LevelWalk::damaged;
    return found;
}

qint64 childStart(const HeaderAtom& atom) {
    return atom.start + atom.headerLength + (atom.is("meta") ? 4 : 0);
}

// The item list as findItemList picks it; no value when there is none. Sets
// `damaged` when the walk cannot tell.
std::optional<HeaderAtom> locateItemList(WindowReader& reader, const MovieLocation& movie, bool& damaged) {
    const qint64 movieChildren = movie.start + movie.headerLength;
    std::optional<HeaderAtom> directMeta;
    std::optional<HeaderAtom> udta;
    LevelWalk walk = walkLevel(reader, movieChildren, movie.end, [&](const HeaderAtom& atom) {
        if (atom.is("meta") && !directMeta) {
            directMeta = atom;
        }
        if (atom.is("udta")) {
            udta = atom;
            return false;
        }
        return true;
    });
    if (walk == LevelWalk::damaged) {
        damaged = true;
        return std::nullopt;
    }
    std::optional<HeaderAtom> meta;
    if (udta) {
        meta = findOnLevel(reader, childStart(*udta), udta->end, "meta", damaged);
        if (damaged) {
            return std::nullopt;
        }
        if (!meta && !directMeta) {
            meta = findOnLevel(reader, udta->end, movie.end, "meta", damaged);
            if (damaged) {
                return std::nullopt;
            }
        } else if (!meta) {
            meta = directMeta;
        }
    } else {
        meta = directMeta;
    }
    if (!meta) {
        return std::nullopt;
    }
    std::optional<HeaderAtom> ilst = findOnLevel(reader, childStart(*meta), meta->end, "ilst", damaged);
    return damaged ? std::nullopt : ilst;
}

// The item's bytes, read alone, and its atom with offsets into them.
struct ItemImage {
    QByteArray bytes;
    MP4Handler::Atom atom;
};

ItemImage readItem(WindowReader& reader, const HeaderAtom& item) {
    ItemImage image;
    image.bytes = reader.exactly(item.start, item.end - item.start);
    image.atom.type = QString::fromLatin1(item.type, 4);
    image.atom.start = 0;
    image.atom.end = image.bytes.size();
    image.atom.headerLength = item.headerLength;
    return image;
}

// The year and genre as yearOf and genreOf give them, by a walk over the
// item list; no value when the walk met damage.
std::optional<MP4Handler::YearAndGenre> walkItemList(const MP4Handler& handler, WindowReader& reader,
                                                     const MovieLocation& movie, bool wantYear,
                                                     bool wantGenre) {
    bool damaged = false;
    const std::optional<HeaderAtom> ilst = locateItemList(reader, movie, damaged);
    if (damaged) {
        return std::nullopt;
    }
    MP4Handler::YearAndGenre found;
    if (!ilst) {
        return found;
    }
    bool needYear = wantYear;
    bool needGenreText = wantGenre;
    bool needGenreNumber = wantGenre;
    std::optional<HeaderAtom> gnre; // read only when no genre text turns up
    const LevelWalk walk = walkLevel(reader, childStart(*ilst), ilst->end, [&](const HeaderAtom& item) {
        if (needYear && item.is(kDayType)) {
            needYear = false;
            const ItemImage day = readItem(reader, item);
            const std::optional<QString> text = MP4Handler::readItemText(day.atom, day.bytes);
            found.year = text ? extractYear(*text) : std::nullopt;
        } else if (needGenreText && item.is("\xA9gen")) {
            needGenreText = false;
            const ItemImage gen = readItem(reader, item);
            if (std::optional<QString> text = MP4Handler::readItemText(gen.atom, gen.bytes)) {
                found.genre = std::move(text);
                needGenreNumber = false;
            }
        } else if (needGenreNumber && !gnre && item.is("gnre")) {
            gnre = item;
        }
        // Done once the year is known and the genre is known or only waits for its number.
        return needYear || needGenreText || (needGenreNumber && !gnre);
    });
    if (walk == LevelWalk::damaged) {
        return std::nullopt;
    }
    if (needGenreNumber && gnre) {
        const ItemImage number = readItem(reader, *gnre);
        found.genre = handler.readGenreNumber(number.atom, number.bytes);
    }
    return found;
}

// The genre of an item list, as readGenre describes it.
std::optional<QString> genreOf(const MP4Handler& handler, const MP4Handler::Atom& ilst,
                               const QByteArray& bytes) {
    if (const MP4Handler::Atom* gen = firstChild(ilst.children, kGen)) {
        if (std::optional<QString> text = MP4Handler::readItemText(*gen, bytes)) {
            return text;
        }
    }
    if (const MP4Handler::Atom* gnre = firstChild(ilst.children, kGnre)) {
        return handler.readGenreNumber(*gnre, bytes);
    }
    return std::nullopt;
}

// The year of an item list, as readYear describes it.
std::optional<int> yearOf(const MP4Handler::Atom& ilst, const QByteArray& bytes) {
    const MP4Handler::Atom* day = firstChild(ilst.children, kDay);
    if (!day) {
        return std::nullopt;
    }
    const std::optional<QString> text = MP4Handler::readItemText(*day, bytes);
    return text ? extractYear(*text) : std::nullopt;
}

// The year and genre of the file's item list: by the header walk when `walk`
// is set and the walk can tell, else from the whole moov.
MP4Handler::YearAndGenre readItems(const MP4Handler& handler, const QString& path, bool wantYear,
                                   bool wantGenre, bool walk) {
    const ByteSource source = openSource(path);
    WindowReader reader(source, path);
    const std::optional<MovieLocation> at = locateMovie(reader, path);
    if (!at) {
        return {};
    }
    if (walk) {
        if (std::optional<MP4Handler::YearAndGenre> found =
                walkItemList(handler, reader, *at, wantYear, wantGenre)) {
            return std::move(*found);
        }
    }
    const MovieImage movie = readWholeMovie(source, *at, path);
    const std::optional<MP4Handler::Atom> ilst = MP4Handler::findItemList(movie.atom.children);
    if (!ilst) {
        return {};
    }
    MP4Handler::YearAndGenre found;
    if (wantYear) {
        found.year = yearOf(*ilst, movie.bytes);
    }
    if (wantGenre) {
        found.genre = genreOf(handler, *ilst, movie.bytes);
    }
    return found;
}

} // namespace

std::optional<QString> MP4Handler::readGenre(const QString& path) const {
    Console::line(QStringLiteral("[TagIO] MP4Handler.readGenre: ") + QFileInfo(path).fileName());
    return readItems(*this, path, false, true, true).genre;
}

std::optional<int> MP4Handler::readYear(const QString& path) const {
    return readItems(*this, path, true, false, true).year;
}

MP4Handler::YearAndGenre MP4Handler::readYearAndGenre(const QString& path) const {
    Console::line(QStringLiteral("[TagIO] MP4Handler.readGenre: ") + QFileInfo(path).fileName());
    return readItems(*this, path, true, true, true);
}

MP4Handler::YearAndGenre MP4Handler::readYearAndGenreFromWholeMovie(const QString& path) const {
    return readItems(*this, path, true, true, false);
}

std::optional<MP4Handler::YearAndGenre> MP4Handler::readYearAndGenreByHeaderWalk(const QString& path) const {
    const ByteSource source = openSource(path);
    WindowReader reader(source, path);
    const std::optional<MovieLocation> at = locateMovie(reader, path);
    if (!at) {
        return YearAndGenre{};
    }
    return walkItemList(*this, reader, *at, true, true);
}

MP4Handler::OffsetRepair MP4Handler::adjustChunkOffsets(QByteArray& bytes, qint64 start, qint64 end,
                                                        qint64 delta, qint64 threshold) {
    OffsetRepair result;
    const TableWalk walk = walkMovie(bytes, start, end);
    result.complete = walk.complete;
    result.auxiliaryOffsets = walk.auxiliaryOffsets;
    result.tables = int(walk.tables.size());
    if (!walk.complete || walk.auxiliaryOffsets) {
        return result;
    }
    // First check every entry, so that nothing is changed when one cannot be.
    for (const ChunkTable& t : walk.tables) {
        for (qint64 k = 0; k < qint64(t.count); ++k) {
            const uint64_t v = entryAt(bytes, t, k);
            if (threshold >= 0 && v < uint64_t(threshold)) {
                continue;
            }
            const uint64_t limit = t.wide ? uint64_t(std::numeric_limits<qint64>::max()) : uint64_t(kMax32);
            if (v > limit || (delta < 0 && v < uint64_t(-delta)) ||
                (delta > 0 && limit - v < uint64_t(delta))) {
                result.outOfRange = true;
                return result;
            }
        }
    }
    for (const ChunkTable& t : walk.tables) {
        for (qint64 k = 0; k < qint64(t.count); ++k) {
            const uint64_t v = entryAt(bytes, t, k);
            if (threshold >= 0 && v < uint64_t(threshold)) {
                continue;
            }
            const uint64_t shifted = uint64_t(qint64(v) + delta);
            if (t.wide) {
                Bytes::putU64BE(bytes, t.entries + 8 * k, shifted);
            } else {
                Bytes::putU32BE(bytes, t.entries + 4 * k, uint32_t(shifted));
            }
            ++result.shifted;
        }
        Console::line(QStringLiteral("[MP4Handler] %1: adjusted %2 offsets")
                          .arg(t.wide ? QStringLiteral("co64") : QStringLiteral("stco"))
                          .arg(t.count));
    }
    return result;
}

QByteArray MP4Handler::writeGenre(const QString& genre, std::optional<int> year, std::optional<QString> title,
                                  std::optional<QString> artist, const QByteArray& fileBytes,
                                  const QString& path) const {
    MovieBuilder builder(fileBytes, path);
    const QList<Atom> top = parseAtoms(fileBytes, 0, fileBytes.size());

    qsizetype moovIndex = -1;
    for (qsizetype i = 0; i < top.size(); ++i) {
        if (top[i].type == kMoov) {
            if (moovIndex >= 0) {
                builder.fail(QStringLiteral("Several 'moov' atoms found in MP4 file"));
            }
            moovIndex = i;
        }
    }
    if (moovIndex < 0) {
        builder.fail(QStringLiteral("No 'moov' atom found in MP4 file"));
    }
    const Atom& moov = top[moovIndex];
    if (moov.clamped) {
        builder.fail(QStringLiteral("The 'moov' atom runs past the end of the file"));
    }

    builder.m_genre = builder.makeTextItem(kGen, genre);
    if (year) {
        builder.m_year = builder.makeTextItem(kDay, QString::number(*year));
        builder.m_hasYear = true;
    }
    if (title) {
        builder.m_title = builder.makeTextItem(kNam, *title);
        builder.m_hasTitle = true;
    }
    if (artist) {
        builder.m_artist = builder.makeTextItem(kArt, *artist);
        builder.m_hasArtist = true;
    }

    QByteArray newMoov = builder.makeAtom(kMoov, builder.rebuildMovie(moov));
    const qint64 oldStart = moov.start;
    const qint64 oldEnd = moov.end;
    const qint64 oldLength = moov.length();
    const qint64 newLength = newMoov.size();
    const qint64 delta = newLength - oldLength;
    Console::line(QStringLiteral("[MP4Handler] moov size: old=%1 new=%2 delta=%3")
                      .arg(oldLength)
                      .arg(newLength)
                      .arg(delta));

    bool mediaAfter = false;
    bool fragmented = firstChild(moov.children, QStringLiteral("mvex")) != nullptr;
    for (qsizetype i = 0; i < top.size(); ++i) {
        if (i > moovIndex && top[i].type == kMdat) {
            mediaAfter = true;
        }
        if (top[i].type == QStringLiteral("moof") || top[i].type == QStringLiteral("mfra")) {
            fragmented = true;
        }
    }

    std::optional<qsizetype> absorbIndex;
    QByteArray newFree;
    if (mediaAfter && delta != 0) {
        const Atom* next = moovIndex + 1 < top.size() ? &top[moovIndex + 1] : nullptr;
        if (next && (next->type == QStringLiteral("free") || next->type == QStringLiteral("skip"))) {
            const qint64 s = next->length();
            const qint64 s2 = s - delta;
            if (s2 >= 8 && s2 <= kMax32 && next->start == oldEnd && !next->clamped) {
                Console::line(
                    QStringLiteral("[MP4Handler] Absorbing delta=%1 into '%2' atom (new size=%3) — mdat "
                                   "stays in place")
                        .arg(delta)
                        .arg(next->type)
                        .arg(s2));
                newFree.reserve(s2);
                Bytes::appendU32BE(newFree, uint32_t(s2));
                newFree.append("free", 4);
                newFree.append(s2 - 8, '\0');
                absorbIndex = moovIndex + 1;
            } else if (s2 < 8) {
                Console::line(
                    QStringLiteral("[MP4Handler] 'free' atom too small (%1) to absorb delta=%2 — falling "
                                   "back to stco adjustment")
                        .arg(s)
                        .arg(delta));
            } else {
                Console::line(
                    QStringLiteral("[MP4Handler] '%1' atom cannot absorb delta=%2 — falling back to stco "
                                   "adjustment")
                        .arg(next->type)
                        .arg(delta));
            }
        } else {
            Console::line(
                QStringLiteral("[MP4Handler] No 'free' atom after moov (next='%1') — falling back to stco "
                               "adjustment")
                    .arg(next ? next->type : QString()));
        }
        if (!absorbIndex) {
            if (fragmented) {
                builder.fail(QStringLiteral("Fragmented MP4 file: the media data cannot be moved"));
            }
            Console::line(QStringLiteral("[MP4Handler] Adjusting stco/co64 offsets by %1%2")
                              .arg(delta > 0 ? QStringLiteral("+") : QString())
                              .arg(delta));
            const OffsetRepair repair = adjustChunkOffsets(newMoov, 8, newMoov.size(), delta, oldEnd);
            if (!repair.complete) {
                builder.fail(
                    QStringLiteral("The sample tables could not be walked; the chunk offsets cannot be "
                                   "repaired"));
            }
            if (repair.auxiliaryOffsets) {
                builder.fail(QStringLiteral("The file holds auxiliary sample offsets ('saio') that cannot be "
                                            "repaired"));
            }
            if (repair.outOfRange) {
                builder.fail(QStringLiteral("A chunk offset would exceed its 32-bit field"));
            }
        }
    }

    QByteArray out;
    out.reserve(fileBytes.size() + std::max<qint64>(delta, 0));
    out.append(fileBytes.constData(), oldStart);
    out.append(newMoov);
    if (absorbIndex) {
        const Atom& free = top[*absorbIndex];
        out.append(newFree);
        out.append(fileBytes.constData() + free.end, fileBytes.size() - free.end);
    } else {
        out.append(fileBytes.constData() + oldEnd, fileBytes.size() - oldEnd);
    }

    // Every chunk offset must still lead to the bytes it led to before.
    const TableWalk before = walkMovie(fileBytes, moov.payloadStart(), oldEnd);
    const bool moved = delta != 0 && fileBytes.size() > oldEnd && !absorbIndex;
    if (!before.complete) {
        if (moved) {
            builder.fail(QStringLiteral("The sample tables could not be walked; the chunk offsets cannot be "
                                        "verified"));
        }
        return out;
    }
    const TableWalk after = walkMovie(out, oldStart + 8, oldStart + newLength);
    bool same = after.complete && after.tables.size() == before.tables.size();
    for (qsizetype t = 0; same && t < before.tables.size(); ++t) {
        const ChunkTable& a = before.tables[t];
        const ChunkTable& b = after.tables[t];
        same = a.count == b.count && a.wide == b.wide;
        for (qint64 k = 0; same && k < qint64(a.count); ++k) {
            const uint64_t va = entryAt(fileBytes, a, k);
            const uint64_t vb = entryAt(out, b, k);
            if (va >= uint64_t(fileBytes.size()) || (qint64(va) >= oldStart && qint64(va) < oldEnd)) {
                continue; // points at nothing that could be compared
            }
            const qint64 from = qint64(va);
            const qint64 cap = from < oldStart ? oldStart - from : fileBytes.size() - from;
            const qint64 len = std::min<qint64>(32, cap);
            same = vb <= uint64_t(out.size()) && qint64(out.size()) - qint64(vb) >= len &&
                   std::memcmp(fileBytes.constData() + from, out.constData() + vb, size_t(len)) == 0;
        }
    }
    if (!same) {
        builder.fail(QStringLiteral("Chunk offsets no longer match the media data"));
    }
    return out;
}
