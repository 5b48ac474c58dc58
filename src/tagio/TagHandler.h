#pragma once

#include "model/AudioFormat.h"
#include "tagio/TagYear.h"

#include <QLatin1StringView>
#include <QString>

#include <optional>

class ByteSource;
class FilePieces;

// The tags of one container behind one face: the ID3v2 tag of MP3, AIFF and
// WAV files, the item list of MP4 files, the Vorbis comments of FLAC files.
// Each implementation hands the structure work to its format's handler
// (ID3v2Handler, MP4Handler, FLACHandler) and adds only which items it reads
// and which check comes before a write. Stateless; every function may run on
// any thread at the same time.
//
// Reads are bounded as the format handler's reads are. A write is only
// described, as pieces (new bytes and ranges of the open file): the caller
// replaces the file, no implementation writes to the disk.
class TagHandler {
public:
    struct YearAndGenre {
        std::optional<int> year;
        std::optional<QString> genre;
    };
    struct TitleArtist {
        std::optional<QString> title;
        std::optional<QString> artist;
    };
    // What a genre write puts into the tag; no value leaves that item as it is.
    struct GenreWrite {
        QString genre;
        std::optional<TagYear> year;
        std::optional<QString> title;
        std::optional<QString> artist;
    };

    virtual ~TagHandler() = default;

    // The format handler's class name, as log lines give it ("ID3v2Handler").
    virtual QLatin1StringView name() const = 0;

    // The plausible year and the raw genre text of an open file, from one
    // walk of its tag (with the handler's readGenre console line). Throws
    // AppError when the file cannot be read.
    virtual YearAndGenre readYearAndGenre(const ByteSource& source) const = 0;
    // The raw genre text, the one a write replaces. Throws AppError.
    virtual std::optional<QString> readGenre(const QString& path) const = 0;
    // Title and artist as the tag holds them (no repair applied), the
    // entries a write replaces. Throws AppError.
    virtual TitleArtist readTitleAndArtist(const QString& path) const = 0;
    // The date a year write replaces, as stored ("1987-06-01"): the ID3
    // date frames (ID3v2Handler::readDateText), the first DATE or YEAR
    // comment, the first "\u00A9day" item. Throws AppError.
    virtual std::optional<QString> readDateText(const QString& path) const = 0;

    // For readers that load the tag whole (TagLib): throws
    // AppError::tagReadFailed where the sizes stored in the file would make
    // them hold more than a sane bound.
    virtual void checkWholeReads(const ByteSource& source) const = 0;

    // Throws AppError::tagWriteFailed (with the reader's reason) for a file
    // the reader refuses, and AppError::tagReadFailed for a FLAC file without
    // its marker: such a file is never written. Runs before any tag or movie
    // is read whole.
    virtual void refuseWhatTheReaderRefuses(const ByteSource& source, const QString& path) const = 0;
    // The new file with the write applied, as pieces of new bytes and ranges
    // of `source`. Throws AppError::tagWriteFailed when the file cannot be
    // written without damage.
    virtual FilePieces describeGenreWrite(const GenreWrite& write, const ByteSource& source,
                                          const QString& path) const = 0;
};

// The handler for a format's tags; nullptr for the formats whose tags we
// neither read directly nor write (ogg, opus, wma, unknown).
const TagHandler* tagHandlerFor(AudioFormat format);
