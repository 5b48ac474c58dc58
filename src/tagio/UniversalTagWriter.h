#pragma once

#include "model/AudioFormat.h"
#include "model/FileIdentity.h"
#include "tagio/TagHandler.h"
#include "tagio/TagYear.h"

#include <QByteArray>
#include <QString>

#include <mutex>
#include <optional>

class ByteSource;
class FilePieces;

// The one entry point for changing a file's tags and for reading the genre
// back after a change. It picks the handler by format (tagHandlerFor), has
// the handler describe the new file as pieces (new bytes and ranges of the
// old file) and streams them into a replacement that takes the file's place
// atomically; memory use does not grow with the size of the file.
//
// Blocking and thread-safe: every call runs to its end under the write lock,
// so no two writes or read-backs ever work at the same moment (the lock is
// shared by all writers of the process, so two writers never race on one file).
class UniversalTagWriter {
public:
    // What identifies the state of a file when it was loaded or scanned; a
    // replace refuses to go ahead when the file no longer matches it.
    using FileStamp = FileIdentity;

    struct LoadedFile {
        QByteArray bytes;
        FileStamp stamp;
    };

    // The title and artist as stored in the file's tag, without any repair.
    using TitleArtist = TagHandler::TitleArtist;

    UniversalTagWriter() = default;
    virtual ~UniversalTagWriter() = default;
    UniversalTagWriter(const UniversalTagWriter&) = delete;
    UniversalTagWriter& operator=(const UniversalTagWriter&) = delete;

    // Writes the genre, and the year (its date text where it has one), title
    // and artist when given, into the file, and returns the file's identity
    // after the write. An empty genre removes the genre item, so that an undo
    // leaves a file that had none without one. With `expected` (the identity
    // the scan or the last write saw), a path that no longer names that file
    // in that state (a link swapped in, a change by another program) is
    // refused and left untouched; without it a symbolic link is followed.
    // Throws AppError: unsupportedFormat for formats that are never written,
    // the handler's own errors unchanged, tagWriteFailed otherwise (also, with
    // the reader's reason, for a file the reader refuses: such a file is never
    // written).
    virtual FileIdentity writeGenre(const QString& genre, std::optional<TagYear> year,
                                    std::optional<QString> title, std::optional<QString> artist,
                                    const QString& path, AudioFormat format,
                                    const std::optional<FileIdentity>& expected = std::nullopt);

    // The genre text found in the file, or no value. Throws AppError.
    virtual std::optional<QString> readGenre(const QString& path, AudioFormat format);

    // Title and artist as the file's own tag holds them (no repair applied);
    // used to remember what a repair is about to overwrite. Throws AppError.
    virtual TitleArtist readTitleAndArtist(const QString& path, AudioFormat format);

    // The date the tag holds where a year write replaces it, as stored
    // ("1987-06-01"): the ID3 date frames (ID3v2Handler::readDateText), the
    // first DATE or YEAR comment of a FLAC file, the first "©day" item of
    // an MP4 file. Throws AppError.
    virtual std::optional<QString> readDateText(const QString& path, AudioFormat format);

    // Loads the whole file (through symbolic links) with plain reads and
    // notes its stamp. Throws AppError::tagWriteFailed when it cannot.
    static LoadedFile loadFile(const QString& path);

    enum class TemporaryKind { unnamedWhereSupported, named };

    // Replaces the file at `path` with `pieces`, copied ranges read from
    // `original` (the open file the pieces were made from): a symbolic link is
    // followed and the real file replaced, unless `loaded` says the path was
    // no link. A file the process may not write is refused as read-only. The
    // new file is written completely to a temporary file in the same folder
    // (same permissions, extended attributes, owner and group; another user's
    // file is refused, and the user's own file whose group the user is not in
    // gets the user's group), flushed to disk, renamed over the target and
    // the folder flushed. The temporary file has no name until right before
    // the rename where the file system allows (see TemporaryFile), so that a
    // crash leaves nothing behind; leftovers of killed writes in the folder
    // are removed first (see LeftoverSweep). As the last step before the
    // rename the target is compared with `loaded` (or, without it, with the
    // file as it was when the write began): a change by someone else is
    // refused. On any failure the target is untouched, no temporary file
    // remains and AppError::tagWriteFailed ("Atomic write failed: ...") is thrown.
    // Returns the identity of the new file.
    static FileIdentity atomicWrite(const FilePieces& pieces, const ByteSource* original, const QString& path,
                                    const std::optional<FileStamp>& loaded,
                                    TemporaryKind kind = TemporaryKind::unnamedWhereSupported);
    // The same with the whole new contents in memory.
    static FileIdentity atomicWrite(const QByteArray& data, const QString& path,
                                    const std::optional<FileStamp>& loaded = std::nullopt);
};
