#include "tagio/mp4/MP4Handler.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "model/DecadeRule.h"
#include "model/TextUtil.h"
#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/mp4/MP4Atoms.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <limits>

using namespace mp4;

QString mp4::typeText(const QByteArray& bytes, qint64 offset) {
    if (!Bytes::fits(bytes.size(), offset, 4)) {
        return QStringLiteral("????");
    }
    return QString::fromLatin1(bytes.constData() + offset, 4);
}

QByteArray mp4::typeBytes(const QString& type) {
    QByteArray latin = type.toLatin1();
    if (QString::fromLatin1(latin) != type) {
        latin = type.left(4).toUtf8();
    }
    return latin.left(4).leftJustified(4, '\0');
}

AtomExtent mp4::atomExtent(const QByteArray& bytes, qint64 offset, qint64 remaining) {
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

mp4::ItemImage mp4::itemImage(QByteArray bytes, const QString& type, int headerLength) {
    ItemImage image;
    image.bytes = std::move(bytes);
    image.atom.type = type;
    image.atom.start = 0;
    image.atom.end = image.bytes.size();
    image.atom.headerLength = headerLength;
    return image;
}

const MP4Handler::Atom* mp4::firstChild(const QList<MP4Handler::Atom>& atoms, const QString& type) {
    for (const auto& atom : atoms) {
        if (atom.type == type) {
            return &atom;
        }
    }
    return nullptr;
}

namespace {

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

// With `budget`, parsing stops once that many atoms are made (it ends below 0).
void parseLevel(const QByteArray& bytes, qint64 start, qint64 end, int depth, QList<MP4Handler::Atom>& out,
                qint64* budget = nullptr) {
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
        if (budget != nullptr && --*budget < 0) {
            return;
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
                parseLevel(bytes, childStart, atom.end, depth + 1, atom.children, budget);
            }
        }
        o = atom.end;
        out.append(std::move(atom));
    }
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
    if (at.end - at.start > MP4Handler::maxMovieRead) {
        throwRead(path,
                  QStringLiteral("MP4 'moov' atom too large to read (%1 bytes)").arg(at.end - at.start));
    }
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
        // Each parsed atom costs far more than its eight bytes in the file.
        qint64 budget = MP4Handler::maxTreeAtoms;
        parseLevel(movie.bytes, at.headerLength, movie.atom.end, 1, movie.atom.children, &budget);
        if (budget < 0) {
            throwRead(path, QStringLiteral("MP4 movie holds too many atoms to read"));
        }
    }
    return movie;
}

} // namespace

MP4Handler::MP4Handler(QStringList id3v1GenreNames) : m_id3Genres(std::move(id3v1GenreNames)) {}

bool MP4Handler::isContainerType(const QString& type) {
    return containerTypes().contains(type);
}

QList<MP4Handler::Atom> MP4Handler::parseAtoms(const QByteArray& bytes, qint64 start, qint64 end,
                                               qint64* budget) {
    QList<Atom> atoms;
    parseLevel(bytes, start, end, 0, atoms, budget);
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
    // A NUL at the end is a terminator some tools write, no part of the value.
    std::optional<QString> text = TextUtil::strictUtf8KeepingBom(bytes.mid(*p + 16, qint64(s) - 16));
    return text ? std::optional<QString>(TextUtil::withoutTrailingNuls(*std::move(text))) : std::nullopt;
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
    // The size as stored, not clamped to the enclosing range; size 0 counts
    // to the end of the file.
    uint64_t storedLength = 0;

    bool is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
};

// "©day" ("\xA9day" would read as one hex escape).
constexpr char kDayType[4] = {'\xA9', 'd', 'a', 'y'};

enum class LevelWalk { finished, stopped, damaged };

// Visits the atoms of [start, end) in order until `visit` returns false. A
// level of more than maxTreeAtoms atoms counts as damaged: no sound file has
// one, and the reads fall back to a whole-moov parse that refuses it.
template <typename Visit> LevelWalk walkLevel(WindowReader& reader, qint64 start, qint64 end, Visit&& visit) {
    qint64 o = start;
    for (qint64 count = 0; o >= 0 && end - o >= 8; ++count) {
        if (count == MP4Handler::maxTreeAtoms) {
            return LevelWalk::damaged;
        }
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
        atom.storedLength = extent.toEnd ? uint64_t(reader.size() - o) : length;
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

ItemImage readItem(WindowReader& reader, const HeaderAtom& item, const QString& path) {
    if (item.end - item.start > MP4Handler::maxItemRead) {
        throwRead(path, QStringLiteral("MP4 item '%1' too large to read (%2 bytes)")
                            .arg(QString::fromLatin1(item.type, 4))
                            .arg(item.end - item.start));
    }
    return itemImage(reader.exactly(item.start, item.end - item.start), QString::fromLatin1(item.type, 4),
                     item.headerLength);
}

// The year and genre as yearOf and genreOf give them, by a walk over the
// item list; no value when the walk met damage.
std::optional<MP4Handler::YearAndGenre> walkItemList(const MP4Handler& handler, WindowReader& reader,
                                                     const MovieLocation& movie, bool wantYear,
                                                     bool wantGenre, const QString& path) {
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
            const ItemImage day = readItem(reader, item, path);
            const std::optional<QString> text = MP4Handler::readItemText(day.atom, day.bytes);
            found.year = text ? extractYear(*text) : std::nullopt;
        } else if (needGenreText && item.is("\xA9gen")) {
            needGenreText = false;
            const ItemImage gen = readItem(reader, item, path);
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
        const ItemImage number = readItem(reader, *gnre, path);
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
MP4Handler::YearAndGenre readItemsOf(const MP4Handler& handler, const ByteSource& source, const QString& path,
                                     bool wantYear, bool wantGenre, bool walk) {
    WindowReader reader(source, path);
    const std::optional<MovieLocation> at = locateMovie(reader, path);
    if (!at) {
        return {};
    }
    if (walk) {
        if (std::optional<MP4Handler::YearAndGenre> found =
                walkItemList(handler, reader, *at, wantYear, wantGenre, path)) {
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

MP4Handler::YearAndGenre readItems(const MP4Handler& handler, const QString& path, bool wantYear,
                                   bool wantGenre, bool walk) {
    return readItemsOf(handler, openSource(path), path, wantYear, wantGenre, walk);
}

// For each type, the text of its first item with readable text, by the
// header walk; no value when the walk met damage.
std::optional<QList<std::optional<QString>>> walkItemTexts(WindowReader& reader, const MovieLocation& movie,
                                                           const QList<QByteArray>& types,
                                                           const QString& path) {
    bool damaged = false;
    const std::optional<HeaderAtom> ilst = locateItemList(reader, movie, damaged);
    if (damaged) {
        return std::nullopt;
    }
    QList<std::optional<QString>> texts(types.size());
    if (!ilst) {
        return texts;
    }
    const LevelWalk walk = walkLevel(reader, childStart(*ilst), ilst->end, [&](const HeaderAtom& item) {
        const qsizetype k = types.indexOf(QByteArray(item.type, 4));
        if (k >= 0 && !texts[k]) {
            const ItemImage image = readItem(reader, item, path);
            texts[k] = MP4Handler::readItemText(image.atom, image.bytes);
        }
        return std::find(texts.cbegin(), texts.cend(), std::nullopt) != texts.cend();
    });
    if (walk == LevelWalk::damaged) {
        return std::nullopt;
    }
    return texts;
}

// Checks one level of the movie tree for checkMovieTree; `atoms` counts the
// atoms seen so far. Sizes are taken as stored: a reader that trusts them
// reads that much, whatever the atom around them says.
void checkTreeLevel(WindowReader& reader, qint64 start, qint64 end, int depth, qint64& atoms,
                    const QString& path) {
    const auto refuse = [&path](const QString& what, uint64_t length) {
        throwRead(path, QStringLiteral("MP4 %1 too large to read (%2 bytes)").arg(what).arg(length));
    };
    walkLevel(reader, start, end, [&](const HeaderAtom& atom) {
        const QString type = QString::fromLatin1(atom.type, 4);
        if (++atoms >= MP4Handler::maxTreeAtoms) { // before the walk's own limit
            throwRead(path, QStringLiteral("MP4 movie holds too many atoms to read"));
        }
        if (!MP4Handler::isContainerType(type) || depth + 1 >= MP4Handler::maxDepth) {
            if (atom.storedLength > uint64_t(MP4Handler::maxMovieRead)) {
                refuse(QStringLiteral("atom '%1'").arg(type), atom.storedLength);
            }
            return true;
        }
        if (atom.is("ilst")) {
            // Every item of the list is held at once.
            uint64_t items = 0;
            walkLevel(reader, childStart(atom), atom.end, [&](const HeaderAtom& item) {
                items += std::min<uint64_t>(item.storedLength, uint64_t(MP4Handler::maxMovieRead) + 1);
                return items <= uint64_t(MP4Handler::maxMovieRead);
            });
            if (items > uint64_t(MP4Handler::maxMovieRead)) {
                refuse(QStringLiteral("item list"), items);
            }
        }
        checkTreeLevel(reader, childStart(atom), atom.end, depth + 1, atoms, path);
        return true;
    });
}

} // namespace

void MP4Handler::checkMovieTree(const QString& path) {
    const ByteSource source = openSource(path);
    WindowReader reader(source, path);
    if (const std::optional<MovieLocation> at = locateMovie(reader, path)) {
        qint64 atoms = 0;
        checkTreeLevel(reader, at->start + at->headerLength, at->end, 1, atoms, path);
    }
}

QList<std::optional<QString>> MP4Handler::readItemTexts(const QString& path, const QStringList& types) const {
    QList<QByteArray> typeBytes;
    for (const QString& type : types) {
        typeBytes.append(type.toLatin1());
    }
    const ByteSource source = openSource(path);
    WindowReader reader(source, path);
    const std::optional<MovieLocation> at = locateMovie(reader, path);
    if (!at) {
        return QList<std::optional<QString>>(types.size());
    }
    if (auto texts = walkItemTexts(reader, *at, typeBytes, path)) {
        return *std::move(texts);
    }
    const MovieImage movie = readWholeMovie(source, *at, path);
    QList<std::optional<QString>> texts(types.size());
    if (const std::optional<Atom> ilst = findItemList(movie.atom.children)) {
        for (const Atom& item : ilst->children) {
            const qsizetype k = types.indexOf(item.type);
            if (k >= 0 && !texts[k]) {
                texts[k] = readItemText(item, movie.bytes);
            }
        }
    }
    return texts;
}

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
    return walkItemList(*this, reader, *at, true, true, path);
}

MP4Handler::YearAndGenre MP4Handler::readYearAndGenre(const ByteSource& source) const {
    Console::line(QStringLiteral("[TagIO] MP4Handler.readGenre: ") + QFileInfo(source.path()).fileName());
    return readItemsOf(*this, source, source.path(), true, true, true);
}
