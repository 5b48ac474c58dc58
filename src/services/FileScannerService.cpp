#include "services/FileScannerService.h"

#include "model/AppError.h"
#include "model/AppLanguage.h"
#include "model/AudioFormat.h"
#include "model/Console.h"
#include "tagio/UniversalTagReader.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

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

// The failures the tag readers describe in words of their own, in either language
// (as thrown, some are German and some English); %1, %2 stand for the values
// they carry. Any other text (the system's, a library's) is shown as it is.
const TextPair readErrorTexts[] = {
    {QStringLiteral("Datei nicht gefunden"), QStringLiteral("File not found")},
    {QStringLiteral("Datei konnte nicht geöffnet werden"), QStringLiteral("The file could not be opened")},
    {QStringLiteral("Datei konnte nicht gelesen werden"), QStringLiteral("The file could not be read")},
    {QStringLiteral("Die Datei lässt sich nicht als Audio öffnen"),
     QStringLiteral("The file could not be opened as audio")},
    {QStringLiteral("Kein Audiostrom in der Datei gefunden"),
     QStringLiteral("No audio stream found in the file")},
    {QStringLiteral("Keine reguläre Datei"), QStringLiteral("Not a regular file")},
    {QStringLiteral("Datei kann nicht zum Lesen geöffnet werden"),
     QStringLiteral("Cannot open file for reading")},
    {QStringLiteral("Keine gültige FLAC-Datei (Kennung fehlt)"),
     QStringLiteral("Not a valid FLAC file (missing magic bytes)")},
    {QStringLiteral("FLAC-Metadatenblock reicht über das Dateiende hinaus"),
     QStringLiteral("FLAC metadata block extends beyond file bounds")},
    {QStringLiteral("FLAC-Metadaten enthalten zu viele Blöcke"),
     QStringLiteral("FLAC metadata holds too many blocks")},
    {QStringLiteral("ID3-Tag zu groß zum Lesen (%1 Bytes)"),
     QStringLiteral("ID3 tag too large to read (%1 bytes)")},
    {QStringLiteral("ID3-Frame '%1' zu groß zum Lesen (%2 Bytes)"),
     QStringLiteral("ID3 frame '%1' too large to read (%2 bytes)")},
    {QStringLiteral("MP4-Atom 'moov' zu groß zum Lesen (%1 Bytes)"),
     QStringLiteral("MP4 'moov' atom too large to read (%1 bytes)")},
    {QStringLiteral("MP4-Element '%1' zu groß zum Lesen (%2 Bytes)"),
     QStringLiteral("MP4 item '%1' too large to read (%2 bytes)")},
    {QStringLiteral("MP4 %1 zu groß zum Lesen (%2 Bytes)"),
     QStringLiteral("MP4 %1 too large to read (%2 bytes)")},
    {QStringLiteral("MP4-Film enthält zu viele Atome zum Lesen"),
     QStringLiteral("MP4 movie holds too many atoms to read")},
};

// A pattern of readErrorTexts as an expression that captures the values.
QRegularExpression patternExpression(const QString& pattern) {
    QString expression = QRegularExpression::escape(pattern);
    expression.replace(QRegularExpression(QStringLiteral("\\\\%([12])")), QStringLiteral("(.*)"));
    return QRegularExpression(QRegularExpression::anchoredPattern(expression));
}

// A reader's error in the interface language when it is one of the readers' own texts.
QString localizedReadError(const QString& error) {
    struct Known {
        const TextPair* pair;
        QRegularExpression de, en;
    };
    static const std::vector<Known> known = [] {
        std::vector<Known> all;
        for (const TextPair& pair : readErrorTexts) {
            all.push_back({&pair, patternExpression(pair.de), patternExpression(pair.en)});
        }
        return all;
    }();
    for (const Known& text : known) {
        for (const QRegularExpression* expression : {&text.de, &text.en}) {
            if (const QRegularExpressionMatch match = expression->match(error); match.hasMatch()) {
                QString localized = localizedText(*text.pair);
                for (const QString& value : match.capturedTexts().mid(1)) {
                    localized = localized.arg(value);
                }
                return localized;
            }
        }
    }
    return error;
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
    const auto failed = [&](const QString& description, Unreadable item) {
        Console::line(QStringLiteral("[FileScannerService] Error reading ") + info.fileName() +
                      QStringLiteral(": ") + description);
        if (unreadable) {
            unreadable->append(std::move(item));
        }
        return std::nullopt;
    };
    TagData tags;
    try {
        tags = reader.readTags(path);
    } catch (const AppError& e) {
        // The screens show the file's name themselves: the reason is the failure without it.
        switch (e.kind()) {
        case AppError::Kind::accessDenied:
            return failed(e.errorDescription(), {path, true});
        case AppError::Kind::fileNotFound:
            return failed(e.errorDescription(), {path, false, readErrorTexts[0].de});
        case AppError::Kind::tagReadFailed:
            return failed(e.errorDescription(), {path, false, e.text()});
        default:
            return failed(e.errorDescription(), {path, false, e.errorDescription()});
        }
    } catch (const std::exception& e) {
        const QString text = QString::fromUtf8(e.what());
        return failed(text, {path, false, text});
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
               : localizedReadError(error);
}

QString FileScannerService::failureText(const std::exception& error) {
    const auto* app = dynamic_cast<const AppError*>(&error);
    if (app && app->kind() == AppError::Kind::accessDenied) {
        return Unreadable{app->url(), true}.reason() + QStringLiteral(": ") +
               QFileInfo(QDir::cleanPath(app->url())).fileName();
    }
    return app ? app->errorDescription() : QString::fromUtf8(error.what());
}
