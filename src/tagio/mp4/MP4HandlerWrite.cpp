#include "tagio/mp4/MP4Handler.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "tagio/Bytes.h"
#include "tagio/FilePieces.h"
#include "tagio/mp4/MP4Atoms.h"

#include <algorithm>
#include <cstring>
#include <limits>

using namespace mp4;

namespace {

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

// --- the file around the movie ---------------------------------------------

QByteArray readOrFail(const SourceBytes& file, qint64 offset, qint64 length, const QString& path) {
    auto bytes = file.read(offset, length);
    if (!bytes) {
        throw AppError::tagWriteFailed(path, QStringLiteral("The file could not be read"));
    }
    return *std::move(bytes);
}

// What a write needs of the file's top level, found by the walk of
// parseAtoms over the atom headers alone. However many atoms the file holds,
// only these few are kept.
struct TopLevel {
    int movies = 0;                       // moov atoms found
    MP4Handler::Atom moov;                // the first one (without children)
    std::optional<MP4Handler::Atom> next; // the atom right after it
    bool mediaAfter = false;              // an mdat after it
    bool fragmented = false;              // a moof or mfra anywhere
};

TopLevel walkTopLevel(const SourceBytes& file, const QString& path) {
    TopLevel top;
    const qint64 end = file.size();
    // The headers are read in blocks, not one allocation per atom.
    QByteArray window;
    qint64 windowStart = 0;
    qint64 o = 0;
    while (end - o >= 8) {
        if (o - windowStart + std::min<qint64>(16, end - o) > window.size()) {
            windowStart = o;
            window = readOrFail(file, o, std::min<qint64>(qint64(64) << 10, end - o), path);
        }
        const qint64 at = o - windowStart;
        const AtomExtent extent = atomExtent(window, at, end - o);
        if (extent.length < uint64_t(extent.headerLength)) {
            ++o; // no atom here; try again at the next byte
            continue;
        }
        const bool clamped = extent.length > uint64_t(end - o);
        const qint64 atomEnd = clamped ? end : o + qint64(extent.length);
        const auto is = [&](const char* type) {
            return std::memcmp(window.constData() + at + 4, type, 4) == 0;
        };
        const bool isMovie = is("moov");
        if ((isMovie && top.movies == 0) || (top.movies > 0 && !top.next)) {
            MP4Handler::Atom atom;
            atom.type = typeText(window, at + 4);
            atom.start = o;
            atom.clamped = clamped;
            atom.end = atomEnd;
            atom.headerLength = extent.headerLength;
            atom.sizeToEnd = extent.toEnd;
            if (isMovie && top.movies == 0) {
                top.moov = std::move(atom);
            } else {
                top.next = std::move(atom);
            }
        }
        top.mediaAfter = top.mediaAfter || (top.movies > 0 && is("mdat"));
        top.fragmented = top.fragmented || is("moof") || is("mfra");
        top.movies += isMovie ? 1 : 0;
        o = atomEnd;
    }
    return top;
}

// Whether bytes [from, from + length) of the old file and [to, to + length)
// of the new one are the same: known without reading when the new file copies
// them from there, else read from both.
bool sameBytes(const SourceBytes& file, qint64 from, const FilePieces& out, qint64 to, qint64 length,
               const QString& path) {
    if (out.originOf(to, length) == from) {
        return true;
    }
    const std::optional<QByteArray> now = out.read(to, length, file);
    if (!now) {
        throw AppError::tagWriteFailed(path, QStringLiteral("The file could not be read"));
    }
    return readOrFail(file, from, length, path) == *now;
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
        if (isForeignMeta(*meta)) {
            // Such a list (keyed "mdta" metadata, as ffmpeg writes with
            // use_metadata_tags) holds the file's title, artist and custom
            // tags; an item list put before it would hide them from readers
            // that take the first meta.
            fail(QStringLiteral("The file's tags are keyed QuickTime metadata ('mdta'); an iTunes item "
                                "list beside them would hide them from other players"));
        }
        for (const auto& child : udta.children) {
            if (&child == meta) {
                payload += rebuildMeta(child);
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

FilePieces MP4Handler::writeGenre(const QString& genre, std::optional<TagYear> year,
                                  std::optional<QString> title, std::optional<QString> artist,
                                  const SourceBytes& file, const QString& path) const {
    const auto fail = [&path](const QString& text) {
        return AppError::tagWriteFailed(path, text);
    };
    const TopLevel top = walkTopLevel(file, path);
    if (top.movies > 1) {
        throw fail(QStringLiteral("Several 'moov' atoms found in MP4 file"));
    }
    if (top.movies == 0) {
        throw fail(QStringLiteral("No 'moov' atom found in MP4 file"));
    }
    if (top.moov.clamped) {
        throw fail(QStringLiteral("The 'moov' atom runs past the end of the file"));
    }
    // The movie is read whole, so it is held to the cap of a whole-movie
    // read: a movie swollen by a huge atom inside it (or by a size that runs
    // to the end of a large file) is refused before any of it is read.
    if (top.moov.length() > maxMovieRead) {
        throw fail(
            QStringLiteral("The 'moov' atom is too large to be rewritten (%1 bytes)").arg(top.moov.length()));
    }
    // Its atoms have offsets into these bytes, while the chunk offsets inside
    // still count from the start of the file.
    const QByteArray moovBytes = readOrFail(file, top.moov.start, top.moov.length(), path);
    // Each parsed atom costs far more than its eight bytes in the file.
    qint64 budget = maxTreeAtoms;
    const QList<Atom> parsedMovie = parseAtoms(moovBytes, 0, moovBytes.size(), &budget);
    if (budget < 0) {
        throw fail(QStringLiteral("The 'moov' atom holds too many atoms to be rewritten"));
    }
    if (parsedMovie.size() != 1) {
        throw fail(QStringLiteral("The 'moov' atom could not be read"));
    }
    const Atom& moov = parsedMovie.first();
    MovieBuilder builder(moovBytes, path);

    // No genre: every genre item goes (an undo takes away the one a write added).
    builder.m_genre = genre.isEmpty() ? QByteArray() : builder.makeTextItem(kGen, genre);
    if (year) {
        // No date: every date item goes.
        builder.m_year = year->removesDate ? QByteArray() : builder.makeTextItem(kDay, year->text());
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
    const qint64 oldStart = top.moov.start;
    const qint64 oldEnd = top.moov.end;
    const qint64 oldLength = moov.length();
    const qint64 newLength = newMoov.size();
    const qint64 delta = newLength - oldLength;
    Console::line(QStringLiteral("[MP4Handler] moov size: old=%1 new=%2 delta=%3")
                      .arg(oldLength)
                      .arg(newLength)
                      .arg(delta));

    const bool mediaAfter = top.mediaAfter;
    const bool fragmented = top.fragmented || firstChild(moov.children, QStringLiteral("mvex")) != nullptr;

    bool absorbed = false;
    QByteArray newFree;
    if (mediaAfter && delta != 0) {
        const std::optional<Atom>& next = top.next;
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
                Bytes::appendU32BE(newFree, uint32_t(s2));
                newFree.append("free", 4);
                absorbed = true;
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
        if (!absorbed) {
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

    FilePieces out;
    out.copy(0, oldStart);
    out.append(newMoov);
    if (absorbed) {
        // The zeros of the grown or shrunk free atom, from one shared block.
        const qint64 freeBody = qint64(Bytes::u32BE(newFree, 0)) - 8;
        const QByteArray zeros(std::min<qint64>(qint64(1) << 20, freeBody), '\0');
        out.append(newFree);
        for (qint64 left = freeBody; left > 0; left -= zeros.size()) {
            out.append(left >= zeros.size() ? zeros : zeros.left(left));
        }
        out.copy(top.next->end, file.size() - top.next->end);
    } else {
        out.copy(oldEnd, file.size() - oldEnd);
    }

    // Every chunk offset must still lead to the bytes it led to before.
    const TableWalk before = walkMovie(moovBytes, moov.payloadStart(), moov.end);
    const bool moved = delta != 0 && file.size() > oldEnd && !absorbed;
    if (!before.complete) {
        if (moved) {
            builder.fail(QStringLiteral("The sample tables could not be walked; the chunk offsets cannot be "
                                        "verified"));
        }
        return out;
    }
    const TableWalk after = walkMovie(newMoov, 8, newLength);
    bool same = after.complete && after.tables.size() == before.tables.size();
    for (qsizetype t = 0; same && t < before.tables.size(); ++t) {
        const ChunkTable& a = before.tables[t];
        const ChunkTable& b = after.tables[t];
        same = a.count == b.count && a.wide == b.wide;
        for (qint64 k = 0; same && k < qint64(a.count); ++k) {
            const uint64_t va = entryAt(moovBytes, a, k);
            const uint64_t vb = entryAt(newMoov, b, k);
            if (va >= uint64_t(file.size()) || (qint64(va) >= oldStart && qint64(va) < oldEnd)) {
                continue; // points at nothing that could be compared
            }
            const qint64 from = qint64(va);
            const qint64 cap = from < oldStart ? oldStart - from : file.size() - from;
            const qint64 len = std::min<qint64>(32, cap);
            same = vb <= uint64_t(out.size()) && out.size() - qint64(vb) >= len &&
                   sameBytes(file, from, out, qint64(vb), len, path);
        }
    }
    if (!same) {
        builder.fail(QStringLiteral("Chunk offsets no longer match the media data"));
    }
    return out;
}
