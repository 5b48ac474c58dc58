#pragma once

#include "tagio/TagYear.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class ByteSource;
class FilePieces;
class SourceBytes;

// Tag handler for MP4/M4A files: reads the genre and year of the iTunes item
// list (moov/udta/meta/ilst) and rebuilds that list for a write, moving the
// media data and repairing the chunk offsets when the size of moov changes.
// A value type: it holds only the genre names for numeric "gnre" items and
// keeps no state between calls, so one instance may be used from any thread.
class MP4Handler {
public:
    // One atom (box) of the file: [start, end) covers header and payload,
    // clamped to the range that held it.
    struct Atom {
        QString type; // the four type bytes as Latin-1 ("©gen" is A9 67 65 6E)
        qint64 start = 0;
        qint64 end = 0;
        QList<Atom> children;   // only for container types
        int headerLength = 8;   // 16 when the 32-bit size is 1 (64-bit size follows)
        bool sizeToEnd = false; // the size field was 0: the atom runs to the end of its range
        bool clamped = false;   // the stored size ran past the end of the enclosing range

        qint64 length() const { return end - start; }
        qint64 payloadStart() const { return start + headerLength; }
    };

    // The outcome of a chunk-offset walk over a movie (see adjustChunkOffsets).
    struct OffsetRepair {
        bool complete = false;         // every trak/mdia/minf/stbl level could be walked
        bool outOfRange = false;       // an entry would leave its 32-/64-bit range
        bool auxiliaryOffsets = false; // a "saio" table holds absolute offsets we do not repair
        int tables = 0;                // stco and co64 tables found
        qint64 shifted = 0;            // entries changed
    };

    // Containers nest at most this deep; deeper containers are kept as leaves.
    static constexpr int maxDepth = 64;

    explicit MP4Handler(QStringList id3v1GenreNames);

    const QStringList& id3Genres() const { return m_id3Genres; }

    // The genre of the item list: the first "©gen" text as stored, else the
    // name for the first "gnre" number. Throws AppError when the file cannot be read.
    std::optional<QString> readGenre(const QString& path) const;
    // The plausible year in the first "©day" item. Throws AppError when the file cannot be read.
    std::optional<int> readYear(const QString& path) const;
    // Both of the above from one walk of the item list (readGenre's console line included).
    // Throws AppError when the file cannot be read.
    struct YearAndGenre {
        std::optional<int> year;
        std::optional<QString> genre;
    };
    YearAndGenre readYearAndGenre(const QString& path) const;
    // The same on a file that is already open.
    YearAndGenre readYearAndGenre(const ByteSource& source) const;

    // The three reads above walk the atom headers of moov/udta/meta/ilst and
    // read only the items they need; where that walk meets damaged atoms they
    // read the whole moov instead. These two give each way alone (without the
    // console line), so that tests can hold the walk to the whole-moov result.
    // The walk gives no value where it would fall back. Both throw AppError
    // when the file cannot be read.
    YearAndGenre readYearAndGenreFromWholeMovie(const QString& path) const;
    std::optional<YearAndGenre> readYearAndGenreByHeaderWalk(const QString& path) const;

    // For each item type ("\u00A9nam"), the text of its first item with
    // readable text, read the same way. Throws AppError when the file cannot be read.
    QList<std::optional<QString>> readItemTexts(const QString& path, const QStringList& types) const;

    // What a read holds in memory at most: one item, and a whole moov where
    // the header walk met damage (with at most maxTreeAtoms atoms parsed). A
    // larger size, as a damaged or hostile file may claim, fails the read
    // instead of being allocated.
    static constexpr qint64 maxItemRead = qint64(16) << 20;
    static constexpr qint64 maxMovieRead = qint64(64) << 20;
    static constexpr qint64 maxTreeAtoms = 20000;

    // For readers that load atoms whole (TagLib): throws AppError::tagReadFailed
    // when the sizes stored in the movie's atom tree would make them hold more
    // than the caps above: an atom or an item list beyond maxMovieRead, or
    // maxTreeAtoms atoms or more.
    static void checkMovieTree(const QString& path);

    // The new file with the genre (and, when given, year, title and artist)
    // items replaced or added: the file before the movie and the media data
    // copied unchanged, the movie (and a free atom after it) rebuilt. The
    // movie is read whole; of the rest, only the atom headers are read and a
    // few kept. Throws AppError::tagWriteFailed whenever the result could not
    // be made without damaging the file, and for a movie of more than
    // maxMovieRead bytes (before reading it) or maxTreeAtoms atoms.
    FilePieces writeGenre(const QString& genre, std::optional<TagYear> year, std::optional<QString> title,
                          std::optional<QString> artist, const SourceBytes& file, const QString& path) const;

    // The atoms in [start, end) of `bytes`, with their children. Never fails:
    // damaged data yields fewer atoms. With `budget`, parsing stops once that
    // many atoms are made (the budget then ends below 0).
    static QList<Atom> parseAtoms(const QByteArray& bytes, qint64 start, qint64 end,
                                  qint64* budget = nullptr);
    static bool isContainerType(const QString& type);

    // The item list under moov/udta/meta, else moov/meta.
    static std::optional<Atom> findItemList(const QList<Atom>& movieChildren);
    // The UTF-8 text of the item's first usable "data" atom.
    static std::optional<QString> readItemText(const Atom& item, const QByteArray& bytes);
    // The genre name for the number in the item's first usable "data" atom (1 = first name).
    std::optional<QString> readGenreNumber(const Atom& item, const QByteArray& bytes) const;

    // Adds `delta` to every stco/co64 entry at or after `threshold` in the
    // sample tables of the movie atoms found in bytes [start, end) (the
    // payload of a moov). Nothing is changed unless the walk was complete and
    // no entry would leave its range; the result tells which.
    static OffsetRepair adjustChunkOffsets(QByteArray& bytes, qint64 start, qint64 end, qint64 delta,
                                           qint64 threshold);

private:
    QStringList m_id3Genres;
};
