#include "services/FileScannerService.h"

#include "model/AppError.h"
#include "model/AppLanguage.h"
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

using Unreadable = FileScannerService::Unreadable;

// 0 when the folder can be listed, else the errno of the failure.
int enumerateError(const QString& folder) {
    const QByteArray name = QFile::encodeName(folder);
    DIR* dir = ::opendir(name.constData());
    if (!dir) {
        return errno;
    }
    ::closedir(dir);
    return 0;
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
// folder is passed over and added to `unreadable`, with whether access was
// denied. A name that is not valid UTF-8 is named on the console; an audio
// file among them is listed (its path text holds replacement characters), so
// that its read fails visibly and is counted among the files that could not
// be loaded.
void walkFolder(int dir, const QString& folder, const QSet<QString>& extensions, Found& found,
                QList<Unreadable>& unreadable) {
    DIR* stream = ::fdopendir(dir);
    if (!stream) {
        const int error = errno;
        ::close(dir);
        unreadable.append({folder, AppError::isAccessDenial(error)});
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
                unreadable.append({path});
            } else if (const int child = ::openat(::dirfd(stream), entry->d_name,
                                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                       child >= 0) {
                walkFolder(child, path, extensions, found, unreadable);
            } else {
                unreadable.append({path, AppError::isAccessDenial(errno)});
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

QStringList FileScannerService::scanDirectory(const QString& folder,
                                              QList<Unreadable>* unreadableFolders) const {
    Console::line(QStringLiteral("[FileScannerService] Scanning directory: ") + folder);
    if (const int error = enumerateError(folder)) {
        throw AppError::isAccessDenial(error) ? AppError::accessDenied(folder)
                                              : AppError::fileNotFound(folder);
    }

    const QSet<QString>& extensions = supportedExtensions();
    Found found;
    const QString root = QDir::cleanPath(folder);
    const int dir = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QList<Unreadable> unreadable;
    if (dir >= 0) {
        walkFolder(dir, root, extensions, found, unreadable);
    } else {
        unreadable.append({root, AppError::isAccessDenial(errno)});
    }
    for (const Unreadable& item : unreadable) {
        Console::line(QStringLiteral("[FileScannerService] Folder could not be read: ") + item.path);
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

std::optional<MusicFile> FileScannerService::readFile(const QString& path, const UniversalTagReader& reader,
                                                      QList<Unreadable>* unreadable) const {
    const QFileInfo info(path);
    // Taken before the read, so that any change during or after it makes the write refuse the file.
    const std::optional<FileIdentity> identity = FileIdentity::ofPath(path);
    const auto failed = [&](const QString& description, bool accessDenied) {
        Console::line(QStringLiteral("[FileScannerService] Error reading ") + info.fileName() +
                      QStringLiteral(": ") + description);
        if (unreadable) {
            unreadable->append({path, accessDenied});
        }
        return std::nullopt;
    };
    TagData tags;
    try {
        tags = reader.readTags(path);
    } catch (const AppError& e) {
        return failed(e.errorDescription(), e.kind() == AppError::Kind::accessDenied);
    } catch (const std::exception& e) {
        return failed(QString::fromUtf8(e.what()), false);
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

QString FileScannerService::Unreadable::reason() const {
    return accessDenied
               ? localizedText(QStringLiteral("Zugriff verweigert"), QStringLiteral("Permission denied"))
               : QString();
}

QString FileScannerService::failureText(const std::exception& error) {
    const auto* app = dynamic_cast<const AppError*>(&error);
    if (app && app->kind() == AppError::Kind::accessDenied) {
        return Unreadable{app->url(), true}.reason() + QStringLiteral(": ") +
               QFileInfo(QDir::cleanPath(app->url())).fileName();
    }
    return app ? app->errorDescription() : QString::fromUtf8(error.what());
}
