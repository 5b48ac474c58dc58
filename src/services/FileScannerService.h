#pragma once

#include <QString>
#include <QStringList>

// Finds the audio files of a folder tree. Holds no state: one instance may be
// used from any number of threads at the same time; every call blocks until
// it is done.
class FileScannerService {
public:
    // Paths of every supported audio file below the folder (recursive), sorted
    // by path text. Items whose name begins with "." are left out (folders with
    // such a name are still entered), as are symbolic links, which are never
    // followed. Unreadable subfolders are passed over. Throws
    // AppError::fileNotFound when the folder itself cannot be read.
    QStringList scanDirectory(const QString& folder) const;
};
