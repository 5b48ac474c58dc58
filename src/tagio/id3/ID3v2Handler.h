#pragma once

#include "tagio/TagYear.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <optional>

class ByteSource;
class FilePieces;
class SourceBytes;

// ID3v2 tags in MP3 files (at offset 0) and in the ID3 chunk of AIFF and WAV
// files: locating, parsing, reading the year and the genre, and rebuilding the
// tag as ID3v2.3 for a genre write. Stateless; every function may run on any
// thread at the same time.
//
// Reading is bounded: the read operations look only at the header and the tag
// (and at the chunk headers of AIFF and WAV files) through positioned reads;
// the year and genre reads skip the bodies of the frames they do not need
// (pictures above all).
// Writing reads the header, the frame headers of the old tag and the chunk
// headers of the file it is handed and describes the new file as pieces: the
// new tag (or chunk and container header) and ranges of the old file copied
// unchanged, the bodies of large frames that pass unchanged among them. It
// converts at most 64 MiB of the old tag in memory (the frames that change,
// or a tag unsynchronised as a whole), holds small unchanged frames only while
// they fit within 64 MiB and copies the rest, and never writes to the disk.
class ID3v2Handler {
public:
    // A half-open byte range [start, end) into a file or buffer.
    struct Range {
        qint64 start = 0;
        qint64 end = 0;
        qint64 length() const { return end - start; }
        bool operator==(const Range&) const = default;
    };

    enum class Container { mp3, aiff, wav };

    // The container that a path's extension (any letter case) selects;
    // every extension other than aiff, aif and wav means MP3.
    static Container containerFor(const QString& path);

    // ---- Reading (bounded) ----

    // The first year in the first TYER or TDRC frame, when plausible.
    // Throws AppError::tagReadFailed when the file cannot be read.
    static std::optional<int> readYear(const QString& path);
    // The text of the first decodable TCON frame, raw (NULs and numeric
    // references kept). Throws AppError::tagReadFailed when the file cannot
    // be read; every format problem gives no value.
    static std::optional<QString> readGenre(const QString& path);

    // Both of the above from one walk of the tag of an open file (readGenre's
    // console line is not printed). Throws AppError::tagReadFailed when the
    // tag cannot be read.
    struct YearAndGenre {
        std::optional<int> year;
        std::optional<QString> genre;
    };
    static YearAndGenre readYearAndGenre(const ByteSource& source, const QString& path);

    // The tag bytes of a file (the MP3 tag or the ID3 chunk's body), or no
    // value when there is none. Throws AppError::tagReadFailed when the
    // located bytes cannot be read. (The year and genre reads above do not
    // read the whole tag: they walk the frame headers by positioned reads and
    // read only the bodies of the frames they look at.)
    static std::optional<QByteArray> readTag(const ByteSource& source, const QString& path);
    // For each ID, the text of its first non-empty frame in the file's tag,
    // decoded (see decodeText), read by positioned reads (only those bodies
    // are loaded). Throws AppError::tagReadFailed when a read fails.
    static QList<std::optional<QString>> readTextFrames(const ByteSource& source, const QString& path,
                                                        const QList<QByteArray>& ids);

    // The date of the file's tag as one text: the first TDRC frame's first
    // value, or the first TYER frame's text with the TDAT day and TIME time
    // of an ID3v2.3 tag ("1987-06-01T22:15"); the longer when both are there.
    // Throws AppError::tagReadFailed when a read fails.
    static std::optional<QString> readDateText(const ByteSource& source, const QString& path);

    // ---- Locating ----

    static std::optional<Range> locateTag(const QByteArray& file, const QString& path);
    static std::optional<Range> locateTag(const ByteSource& source, const QString& path);

    // The MP3 tag at offset 0: [0, 10 + size). The syncsafe size is used
    // unless it plainly does not fit the tag's frames and the big-endian
    // reading does.
    static std::optional<Range> parseTagHeader(const QByteArray& file);
    static std::optional<Range> parseTagHeader(const ByteSource& source);

    // ---- Frames and text ----

    // Text of a frame body after its encoding byte, strictly. Encoding 0 is
    // Latin-1, 1 UTF-16 with a byte-order mark, 2 UTF-16BE, anything else UTF-8.
    // No value when the bytes are not valid in that encoding. NULs at the
    // very end are terminators and dropped; NULs between values stay.
    static std::optional<QString> decodeTextStrict(const QByteArray& bytes, uint8_t encoding);
    static bool isValidFrameID(const QByteArray& bytes, qint64 offset);

    // ---- Writing ----

    // The new file with an ID3v2.3 tag carrying the genre (and the year,
    // title and artist when given); every other readable frame of the old tag
    // is carried over. Throws AppError::tagWriteFailed when the file cannot be
    // written without damage.
    static FilePieces writeGenre(const QString& genre, std::optional<TagYear> year,
                                 std::optional<QString> title, std::optional<QString> artist,
                                 const SourceBytes& file, const QString& path);

    // The new tag for an MP3 file (the old ID3v2 tag's frames, or an ID3v1
    // tag's fields when there is no ID3v2 tag), as pieces of `file`.
    static FilePieces buildNewTag(const SourceBytes& file, const QString& genre, std::optional<TagYear> year,
                                  const std::optional<QString>& title, const std::optional<QString>& artist,
                                  const QString& path);

    // A new ID3v2.3 tag, as new bytes and ranges of `file`: `firstFrames`,
    // the kept frames of the tag at `oldTag` of `file`, the new text frames
    // and 512 bytes of padding. A year replaces the old date frames (TYER,
    // TDRC, TDAT, TIME) with TYER, or with TYER, TDAT and TIME for the date
    // text it carries; without a year, only the year frame the reader takes
    // (the first non-empty TYER or TDRC) is kept of TYER and TDRC. Throws
    // AppError::tagWriteFailed (naming `path`) when the old tag is damaged or
    // holds frames that cannot be carried over, when more than 64 MiB of it
    // would have to be converted in memory, or when the tag would be too large.
    static FilePieces rebuildTag(const SourceBytes& file, std::optional<Range> oldTag, const QString& genre,
                                 std::optional<TagYear> year, const std::optional<QString>& title,
                                 const std::optional<QString>& artist, const QByteArray& firstFrames,
                                 const QString& path);

    // A text frame with encoding 3 (UTF-8) and no terminating NUL.
    static QByteArray buildTextFrame(const QByteArray& id, const QString& text);

    enum class SizeOrder { bigEndian, littleEndian };
    // A chunk's ID and body size (a pad byte follows an odd body).
    static QByteArray chunkHeader(const QByteArray& id, qint64 bodySize, SizeOrder order);

    static QByteArray syncsafeEncode(uint32_t size);
    static uint32_t syncsafeDecode(const QByteArray& bytes, qint64 offset);

    // An ID3v1 field decoded as Latin-1, blanks, tabs and NULs trimmed.
    static QString readID3v1Field(const QByteArray& bytes);

    // Undoes unsynchronisation of the bytes from `from` on: every 0xFF 0x00
    // becomes 0xFF. Done in place: a buffer moved in is not copied.
    static QByteArray removeUnsynchronisation(QByteArray bytes, qsizetype from = 0);

    // A tag body (frames plus padding) must stay below this size.
    static constexpr qint64 maxTagBodySize = qint64(1) << 28;
    // An AIFF or WAV output must stay below this size.
    static constexpr qint64 maxContainerFileSize = qint64(1) << 32;
    static constexpr qint64 paddingSize = 512;
};
