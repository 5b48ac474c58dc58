#pragma once

#include "model/MusicFile.h"

#include <QString>
#include <QStringList>

#include <optional>

class UniversalTagReader;

// Finds the audio files of a folder tree. Holds no state: one instance may be
// used from any number of threads at the same time; every call blocks until
// it is done.
class FileScannerService {
public:
    // Paths of every supported audio file below the folder (recursive), sorted
    // by path text. Items whose name begins with "." are left out (folders with
    // such a name are still entered), as are symbolic links, which are never
    // followed. Unreadable subfolders are passed over. A file whose name is
    // not valid UTF-8 is listed (its path cannot be opened, so its read fails
    // and is reported); such a folder is named on the console. Throws
    // AppError::fileNotFound when the folder itself cannot be read. The
    // folders passed over are added to `unreadableFolders` when given.
    QStringList scanDirectory(const QString& folder, QStringList* unreadableFolders = nullptr) const;

    // A new row for the file, read through the caller's reader (status
    // pending, a new id, no looked-up or typed values, the file's identity
    // as it was before the read). No value when the tags
    // cannot be read; the reason has been printed to the console. Never throws.
    std::optional<MusicFile> readFile(const QString& path, const UniversalTagReader& reader) const;
};
