#pragma once

#include "model/MusicFile.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <exception>
#include <optional>

class UniversalTagReader;

// Finds the audio files of a folder tree. Holds no state: one instance may be
// used from any number of threads at the same time; every call blocks until
// it is done.
class FileScannerService {
public:
    // A file or folder that could not be read.
    struct Unreadable {
        QString path;
        // The user may not read it, or not enter a folder on its path.
        bool accessDenied = false;
        // The read's own description of why a file could not be read, as
        // thrown (without the file name); empty for folders and denied items.
        QString error{};

        // The reason the screens name, in the interface language:
        // "Zugriff verweigert" / "Permission denied" for an item the user may
        // not read, else the read's error (one of the readers' own texts is
        // given in both languages), else empty.
        QString reason() const;
        bool operator==(const Unreadable&) const = default;
    };

    // Paths of every supported audio file below the folder (recursive), sorted
    // by path text. Items whose name begins with "." are left out (folders with
    // such a name are still entered), as are symbolic links, which are never
    // followed. Unreadable subfolders are passed over. A file whose name is
    // not valid UTF-8 is listed (its path cannot be opened, so its read fails
    // and is reported); such a folder is named on the console. Throws
    // AppError::accessDenied when the user may not read the folder itself,
    // AppError::fileNotFound when it cannot be read otherwise. The folders
    // passed over are added to `unreadableFolders` when given.
    QStringList scanDirectory(const QString& folder, QList<Unreadable>* unreadableFolders = nullptr) const;

    // A new row for the file, read through the caller's reader (status
    // pending, a new id, no looked-up or typed values, the file's identity
    // as it was before the read). No value when the tags cannot be read; the
    // reason has been printed to the console and the file is added to
    // `unreadable` when given. Never throws.
    std::optional<MusicFile> readFile(const QString& path, const UniversalTagReader& reader,
                                      QList<Unreadable>* unreadable = nullptr) const;

    // The text the screens show for a failed scanDirectory: a folder the user
    // may not read in the interface language, any other failure as it
    // describes itself.
    static QString failureText(const std::exception& error);
};
