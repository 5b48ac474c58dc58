#include "services/FileScannerService.h"

#include "model/AppError.h"
#include "model/AudioFormat.h"
#include "model/Console.h"
#include "tagio/UniversalTagReader.h"

#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace {

bool canEnumerate(const QString& folder) {
    const QByteArray name = QFile::encodeName(folder);
    DIR* dir = ::opendir(name.constData());
    if (!dir) {
        return false;
    }
    ::closedir(dir);
    return true;
}

// Sort key: the path's Unicode scalar values after canonical composition, so
// that the order is that of a plain comparison of the texts' characters
// (upper-case letters before lower-case ones; characters outside the BMP by
// code point, not by UTF-16 unit).
std::vector<char32_t> scalarKey(const QString& path) {
    const QList<uint> ucs4 = path.normalized(QString::NormalizationForm_C).toUcs4();
    return std::vector<char32_t>(ucs4.begin(), ucs4.end());
}

// The folder's entries whose name is not valid UTF-8, which the directory
// walk above never sees. Each is named on the console; an audio file among
// them is returned (its path text holds replacement characters), so that its
// read fails visibly and is counted among the files that could not be loaded.
QStringList namesNotUtf8(const QString& folder, const QSet<QString>& extensions) {
    QStringList out;
    const QByteArray native = QFile::encodeName(folder);
    DIR* dir = ::opendir(native.constData());
    if (!dir) {
        return out;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArrayView name(entry->d_name);
        if (name.isValidUtf8() || name.startsWith('.')) {
            continue;
        }
        const QString path = folder + QLatin1Char('/') + QString::fromUtf8(name);
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            Console::line(
                QStringLiteral("[FileScannerService] Folder name is not valid UTF-8, not scanned: ") + path);
        } else if (S_ISREG(st.st_mode) && extensions.contains(QFileInfo(path).suffix().toLower())) {
            Console::line(
                QStringLiteral("[FileScannerService] File name is not valid UTF-8, cannot be read: ") + path);
            out.append(path);
        }
    }
    ::closedir(dir);
    return out;
}

} // namespace

QStringList FileScannerService::scanDirectory(const QString& folder) const {
    Console::line(QStringLiteral("[FileScannerService] Scanning directory: ") + folder);
    if (!QFileInfo(folder).isDir() || !canEnumerate(folder)) {
        throw AppError::fileNotFound(folder);
    }

    const QSet<QString>& extensions = supportedExtensions();
    std::vector<std::pair<std::vector<char32_t>, QString>> found;
    // No FollowSymlinks: a link to a folder is never entered, so a link cycle
    // cannot make the walk endless. Hidden entries are listed so that folders
    // whose name begins with "." are entered; the entries themselves are
    // filtered below.
    QDirIterator it(QDir::cleanPath(folder),
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QStringList folders{QDir::cleanPath(folder)};
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink()) {
            folders.append(info.filePath());
        }
        if (info.fileName().startsWith(QLatin1Char('.'))) {
            continue;
        }
        if (info.isSymLink() || !info.isFile()) {
            continue;
        }
        if (!extensions.contains(info.suffix().toLower())) {
            continue;
        }
        const QString path = info.filePath();
        found.emplace_back(scalarKey(path), path);
    }

    for (const QString& walked : folders) {
        for (QString& path : namesNotUtf8(walked, extensions)) {
            found.emplace_back(scalarKey(path), std::move(path));
        }
    }

    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList result;
    result.reserve(qsizetype(found.size()));
    for (auto& entry : found) {
        result.append(std::move(entry.second));
    }
    Console::line(QStringLiteral("[FileScannerService] Found %1 audio files").arg(result.size()));
    return result;
}

std::optional<MusicFile> FileScannerService::readFile(const QString& path,
                                                      const UniversalTagReader& reader) const {
    const QFileInfo info(path);
    TagData tags;
    try {
        tags = reader.readTags(path);
    } catch (const AppError& e) {
        Console::line(QStringLiteral("[FileScannerService] Error reading ") + info.fileName() +
                      QStringLiteral(": ") + e.errorDescription());
        return std::nullopt;
    } catch (const std::exception& e) {
        Console::line(QStringLiteral("[FileScannerService] Error reading ") + info.fileName() +
                      QStringLiteral(": ") + QString::fromUtf8(e.what()));
        return std::nullopt;
    }

    MusicFile file;
    file.id = QUuid::createUuid();
    file.url = path;
    // An empty title (not trimmed) falls back to the file name without its last extension.
    file.title = tags.title.isEmpty() ? info.completeBaseName() : tags.title;
    file.artist = tags.artist;
    file.album = tags.album;
    file.year = tags.year;
    file.genre = tags.genre;
    file.duration = tags.duration;
    file.format = audioFormatForPath(path);
    file.status = ProcessingStatus::pending();
    file.wasAutoFixed = tags.wasAutoFixed;
    file.renderVersion = 0;
    return file;
}
