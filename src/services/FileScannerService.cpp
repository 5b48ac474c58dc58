#include "services/FileScannerService.h"

#include "model/AppError.h"
#include "model/AudioFormat.h"
#include "model/Console.h"
#include "tagio/UniversalTagReader.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

using Found = std::vector<std::pair<std::vector<char32_t>, QString>>;

// Lists the audio files under the open folder `dir` (whose path is `folder`)
// in one pass over each folder. Links are never followed, so a link cycle
// cannot make the walk endless; folders whose name begins with "." are
// entered, files whose name begins with "." are left out, and an unreadable
// folder is passed over and added to `unreadable`. A name that is not valid UTF-8 is named on the
// console; an audio file among them is listed (its path text holds
// replacement characters), so that its read fails visibly and is counted
// among the files that could not be loaded.
void walkFolder(int dir, const QString& folder, const QSet<QString>& extensions, Found& found,
                QStringList& unreadable) {
    DIR* stream = ::fdopendir(dir);
    if (!stream) {
        ::close(dir);
        unreadable.append(folder);
        return;
    }
    while (const dirent* entry = ::readdir(stream)) {
        const QByteArrayView name(entry->d_name);
        if (name == "." || name == "..") {
            continue;
        }
        const bool utf8 = name.isValidUtf8();
        const QString path = (folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) +
                             QString::fromUtf8(name);
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(stream), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
        }
        if (type == DT_DIR) {
            if (!utf8) {
                Console::line(
                    QStringLiteral("[FileScannerService] Folder name is not valid UTF-8, not scanned: ") +
                    path);
                unreadable.append(path);
            } else if (const int child = ::openat(::dirfd(stream), entry->d_name,
                                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                       child >= 0) {
                walkFolder(child, path, extensions, found, unreadable);
            } else {
                unreadable.append(path);
            }
            continue;
        }
        if (type != DT_REG || name.startsWith('.')) {
            continue;
        }
        const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        if (dot <= slash || !extensions.contains(path.mid(dot + 1).toLower())) {
            continue;
        }
        if (!utf8) {
            Console::line(
                QStringLiteral("[FileScannerService] File name is not valid UTF-8, cannot be read: ") + path);
        }
        found.emplace_back(scalarKey(path), path);
    }
    ::closedir(stream);
}

} // namespace

QStringList FileScannerService::scanDirectory(const QString& folder, QStringList* unreadableFolders) const {
    Console::line(QStringLiteral("[FileScannerService] Scanning directory: ") + folder);
    if (!QFileInfo(folder).isDir() || !canEnumerate(folder)) {
        throw AppError::fileNotFound(folder);
    }

    const QSet<QString>& extensions = supportedExtensions();
    Found found;
    const QString root = QDir::cleanPath(folder);
    const int dir = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QStringList unreadable;
    if (dir >= 0) {
        walkFolder(dir, root, extensions, found, unreadable);
    } else {
        unreadable.append(root);
    }
    for (const QString& path : unreadable) {
        Console::line(QStringLiteral("[FileScannerService] Folder could not be read: ") + path);
    }
    if (unreadableFolders) {
        *unreadableFolders += unreadable;
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
    // Taken before the read, so that any change during or after it makes the write refuse the file.
    const std::optional<FileIdentity> identity = FileIdentity::ofPath(path);
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
    file.identity = identity;
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
