#include "tagio/UniversalTagWriter.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "model/DebugLogger.h"
#include "tagio/ByteSource.h"
#include "tagio/FLACHandler.h"
#include "tagio/FilePieces.h"
#include "tagio/GenreNames.h"
#include "tagio/ID3v2Handler.h"
#include "tagio/MediaAsset.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// One lock for every writer of the process: a write loads, rebuilds and
// replaces a file in one go, and two writes must never interleave on one file.
std::mutex& writeLock() {
    static std::mutex mutex;
    return mutex;
}

QString errnoText(int error) {
    char buffer[256];
    // The GNU variant returns a pointer to the text (maybe not into buffer).
    const char* text = ::strerror_r(error, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

QString yearText(const std::optional<TagYear>& year) {
    return year ? year->text() : QStringLiteral("nil");
}

enum class Branch { id3, mp4, flac, refused };

Branch branchFor(AudioFormat format) {
    switch (format) {
    case AudioFormat::mp3:
    case AudioFormat::aiff:
    case AudioFormat::aif:
    case AudioFormat::wav:
        return Branch::id3;
    case AudioFormat::m4a:
    case AudioFormat::aac:
        return Branch::mp4;
    case AudioFormat::flac:
        return Branch::flac;
    case AudioFormat::ogg:
    case AudioFormat::opus:
    case AudioFormat::wma:
    case AudioFormat::unknown:
        break;
    }
    return Branch::refused;
}

UniversalTagWriter::FileStamp stampOf(const struct stat& st) {
    UniversalTagWriter::FileStamp stamp;
    stamp.device = static_cast<std::uint64_t>(st.st_dev);
    stamp.inode = static_cast<std::uint64_t>(st.st_ino);
    stamp.size = static_cast<qint64>(st.st_size);
    stamp.modifiedSeconds = static_cast<qint64>(st.st_mtim.tv_sec);
    stamp.modifiedNanoseconds = static_cast<qint64>(st.st_mtim.tv_nsec);
    return stamp;
}

// The replacement file while it is written. Unnamed (made with O_TMPFILE in
// the target's folder) where the file system allows it, so that a crash
// leaves nothing behind; it gets its name only right before the rename.
// Closed, and removed when named, unless the rename took it over.
class TemporaryFile {
public:
    // Takes over `fd`; `path` is empty while the file has no name.
    TemporaryFile(QByteArray path, int fd) : m_path(std::move(path)), m_fd(fd) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        if (!m_kept && !m_path.isEmpty()) {
            ::unlink(m_path.constData());
        }
    }

    int fd() const { return m_fd; }

    // Gives an unnamed file the name `path`; false (errno set) when refused.
    bool link(const QByteArray& path) {
        const QByteArray self = QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(m_fd);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) != 0) {
            return false;
        }
        m_path = path;
        return true;
    }
    // Closes the file; false (with errno set) when the close reported an error.
    bool close() { return ::close(std::exchange(m_fd, -1)) == 0; }
    void keep() { m_kept = true; }

private:
    QByteArray m_path;
    int m_fd = -1;
    bool m_kept = false;
};

// Writes every byte; false (with errno set) on failure.
bool writeAll(int fd, const char* p, qint64 left) {
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(std::min<qint64>(left, qint64(1) << 30)));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// Appends `length` bytes of `from` at `offset` to `to`: in the kernel where it
// can (copy_file_range), else by reads and writes of 1 MiB. False (errno set)
// on failure; errno 0 when the file ended early.
class RangeCopier {
public:
    bool copy(int from, qint64 offset, int to, qint64 length) {
        while (length > 0 && m_inKernel) {
            loff_t in = offset;
            const ssize_t n = ::copy_file_range(
                from, &in, to, nullptr, static_cast<size_t>(std::min<qint64>(length, qint64(1) << 30)), 0);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
                    errno != EBADF) {
                    return false;
                }
                m_inKernel = false; // not between these files: go on with plain reads
                break;
            }
            if (n == 0) {
                // Some file systems copy nothing instead of refusing; the reads below tell a file that ended.
                m_inKernel = false;
                break;
            }
            offset += n;
            length -= n;
        }
        if (length > 0 && m_buffer.empty()) {
            m_buffer.resize(blockSize);
        }
        while (length > 0) {
            const ssize_t n = ::pread(from, m_buffer.data(), static_cast<size_t>(std::min(length, blockSize)),
                                      static_cast<off_t>(offset));
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            if (n == 0) {
                errno = 0;
                return false;
            }
            if (!writeAll(to, m_buffer.data(), n)) {
                return false;
            }
            offset += n;
            length -= n;
        }
        return true;
    }

private:
    static constexpr qint64 blockSize = qint64(1) << 20;
    bool m_inKernel = true;
    std::vector<char> m_buffer;
};

// Copies the extended attributes of the file at `from` to the open file `to`.
// What the process may not set (trusted.*, most security.*) or what the file
// system does not hold is skipped: the attributes are kept where possible.
void copyExtendedAttributes(const QByteArray& from, int to) {
    const ssize_t listSize = ::listxattr(from.constData(), nullptr, 0);
    if (listSize <= 0) {
        return;
    }
    QByteArray names(listSize, '\0');
    const ssize_t got = ::listxattr(from.constData(), names.data(), size_t(names.size()));
    if (got <= 0) {
        return;
    }
    names.truncate(got);
    for (const QByteArray& name : names.split('\0')) {
        if (name.isEmpty()) {
            continue;
        }
        const ssize_t valueSize = ::getxattr(from.constData(), name.constData(), nullptr, 0);
        if (valueSize < 0) {
            continue;
        }
        QByteArray value(valueSize, '\0');
        const ssize_t read =
            ::getxattr(from.constData(), name.constData(), value.data(), size_t(value.size()));
        if (read >= 0) {
            ::fsetxattr(to, name.constData(), value.constData(), size_t(read), 0);
        }
    }
}

// Flushes a folder's entries, so that a completed rename survives a crash.
// Some file systems cannot flush a folder; the file itself is already safe.
void syncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    ::fsync(fd);
    ::close(fd);
}

// The handlers take every file they can rewrite; the reader refuses more (no
// audio stream, a tag it will not hold). A file the reader refuses is never
// written: the reader's own parser for the format runs first, over headers
// and a few capped text bodies, before a handler reads a tag or movie whole.
// (FLAC files are read by the handler that writes them.)
void refuseWhatTheReaderRefuses(const ByteSource& source, const QString& path) {
    try {
        MediaAsset::loadOwn(source);
    } catch (const AppError& error) {
        throw AppError::tagWriteFailed(path, error.text());
    }
}

} // namespace

UniversalTagWriter::UniversalTagWriter() : m_mp4Handler(id3v1GenreNames()) {}

void UniversalTagWriter::writeGenre(const QString& genre, std::optional<TagYear> year,
                                    std::optional<QString> title, std::optional<QString> artist,
                                    const QString& path, AudioFormat format) {
    const QString raw = rawValue(format);
    const Branch branch = branchFor(format);
    if (branch == Branch::refused) {
        Console::line(QStringLiteral("[TagIO] Write skipped \u2013 format '") + raw +
                      QStringLiteral("' does not support tag writing"));
        throw AppError::unsupportedFormat(raw);
    }

    std::lock_guard lock(writeLock());
    const QString name = QFileInfo(path).fileName();
    Console::line(QStringLiteral("[TagIO] UniversalTagWriter.writeGenre '") + genre +
                  QStringLiteral("' year=") + yearText(year) + QStringLiteral(" format=") + raw +
                  QStringLiteral(" -> ") + name);
    switch (branch) {
    case Branch::id3:
        Console::line(QStringLiteral("[TagIO] ID3v2Handler.writeGenre '") + genre +
                      QStringLiteral("' year=") + yearText(year) + QStringLiteral(" -> ") + name);
        break;
    case Branch::mp4:
        Console::line(QStringLiteral("[TagIO] MP4Handler.writeGenre '") + genre + QStringLiteral("' year=") +
                      yearText(year) + QStringLiteral(" -> ") + name);
        break;
    case Branch::flac:
        DebugLogger::shared().log(QStringLiteral("FLAC writeGenre '") + genre + QStringLiteral("' year=") +
                                      yearText(year) + QStringLiteral(" \u2192 ") + name,
                                  LogCategory::write);
        break;
    case Branch::refused:
        break;
    }

    try {
        errno = 0;
        const std::optional<ByteSource> source = ByteSource::open(path);
        struct stat st {};
        if (!source || ::fstat(source->descriptor(), &st) != 0) {
            throw AppError::tagWriteFailed(path, errno != 0 ? errnoText(errno)
                                                            : QStringLiteral("Not a regular file"));
        }
        const SourceBytes file(*source);
        FilePieces pieces;
        switch (branch) {
        case Branch::id3:
            refuseWhatTheReaderRefuses(*source, path);
            pieces = ID3v2Handler::writeGenre(genre, year, title, artist, file, path);
            break;
        case Branch::mp4:
            refuseWhatTheReaderRefuses(*source, path);
            pieces = m_mp4Handler.writeGenre(genre, year, title, artist, file, path);
            break;
        case Branch::flac:
            FLACHandler::validateMagic(file, path);
            pieces = FLACHandler::writeGenre(genre, year, title, artist, file, path);
            break;
        case Branch::refused:
            break;
        }
        atomicWrite(pieces, &*source, path, stampOf(st));
    } catch (const AppError&) {
        throw;
    } catch (const std::exception& error) {
        throw AppError::tagWriteFailed(path, QString::fromLocal8Bit(error.what()));
    }
}

std::optional<QString> UniversalTagWriter::readGenre(const QString& path, AudioFormat format) {
    const QString raw = rawValue(format);
    Console::line(QStringLiteral("[TagIO] UniversalTagWriter.readGenre format=") + raw +
                  QStringLiteral(" <- ") + QFileInfo(path).fileName());
    std::lock_guard lock(writeLock());
    switch (branchFor(format)) {
    case Branch::id3:
        return ID3v2Handler::readGenre(path);
    case Branch::mp4:
        return m_mp4Handler.readGenre(path);
    case Branch::flac:
        return FLACHandler::readGenre(path);
    case Branch::refused:
        break;
    }
    throw AppError::unsupportedFormat(raw);
}

UniversalTagWriter::TitleArtist UniversalTagWriter::readTitleAndArtist(const QString& path,
                                                                       AudioFormat format) {
    std::lock_guard lock(writeLock());
    TitleArtist out;
    switch (branchFor(format)) {
    case Branch::id3: {
        const std::optional<ByteSource> source = ByteSource::open(path);
        if (!source) {
            throw AppError::tagReadFailed(path, errnoText(errno));
        }
        const QList<std::optional<QString>> texts = ID3v2Handler::readTextFrames(
            *source, path, {QByteArrayLiteral("TIT2"), QByteArrayLiteral("TPE1")});
        out.title = texts[0];
        out.artist = texts[1];
        return out;
    }
    case Branch::flac: {
        // The entries a repair replaces: the last of each key.
        const FLACHandler::CommentIndex index = FLACHandler::readCommentIndex(path);
        out.title = index.lastValue(QLatin1String("TITLE"));
        out.artist = index.lastValue(QLatin1String("ARTIST"));
        return out;
    }
    case Branch::mp4: {
        const QList<std::optional<QString>> texts =
            m_mp4Handler.readItemTexts(path, {QStringLiteral("\u00A9nam"), QStringLiteral("\u00A9ART")});
        out.title = texts[0];
        out.artist = texts[1];
        return out;
    }
    case Branch::refused:
        break;
    }
    throw AppError::unsupportedFormat(rawValue(format));
}

std::optional<QString> UniversalTagWriter::readDateText(const QString& path, AudioFormat format) {
    std::lock_guard lock(writeLock());
    switch (branchFor(format)) {
    case Branch::id3: {
        const std::optional<ByteSource> source = ByteSource::open(path);
        if (!source) {
            throw AppError::tagReadFailed(path, errnoText(errno));
        }
        return ID3v2Handler::readDateText(*source, path);
    }
    case Branch::flac: {
        const FLACHandler::CommentIndex index = FLACHandler::readCommentIndex(path);
        const qsizetype at = index.firstDate();
        return at < 0 ? std::nullopt : std::optional<QString>(index.value(at));
    }
    case Branch::mp4:
        return m_mp4Handler.readItemTexts(path, {QStringLiteral("\u00A9day")}).first();
    case Branch::refused:
        break;
    }
    throw AppError::unsupportedFormat(rawValue(format));
}

UniversalTagWriter::LoadedFile UniversalTagWriter::loadFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw AppError::tagWriteFailed(path, errnoText(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        throw AppError::tagWriteFailed(path, errnoText(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        throw AppError::tagWriteFailed(path, QStringLiteral("Not a regular file"));
    }

    LoadedFile loaded;
    loaded.stamp = stampOf(st);
    loaded.bytes.resize(static_cast<qsizetype>(st.st_size));
    qint64 done = 0;
    while (done < loaded.bytes.size()) {
        const ssize_t n = ::pread(fd, loaded.bytes.data() + done,
                                  static_cast<size_t>(loaded.bytes.size() - done), static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw AppError::tagWriteFailed(path, errnoText(errno));
        }
        if (n == 0) {
            break;
        }
        done += n;
    }
    if (done != loaded.bytes.size()) {
        // The file shrank while it was read; never build an image from half a file.
        throw AppError::tagWriteFailed(path, QStringLiteral("The file changed while it was read"));
    }
    return loaded;
}

QByteArray UniversalTagWriter::temporaryName(const QByteArray& encodedFileName, const QString& uuidText) {
    const QByteArray suffix = QByteArrayLiteral(".tmp-") + uuidText.toUtf8();
    QByteArray base = encodedFileName;
    const qint64 room = maxNameBytes - 1 - suffix.size();
    if (base.size() > room) {
        qint64 cut = std::max<qint64>(room, 0);
        // Never cut a UTF-8 sequence in half.
        while (cut > 0 && (static_cast<unsigned char>(base.at(cut)) & 0xC0) == 0x80) {
            --cut;
        }
        base.truncate(cut);
    }
    return QByteArrayLiteral(".") + base + suffix;
}

void UniversalTagWriter::atomicWrite(const QByteArray& data, const QString& path,
                                     const std::optional<FileStamp>& loaded) {
    FilePieces pieces;
    pieces.append(data);
    atomicWrite(pieces, nullptr, path, loaded);
}

void UniversalTagWriter::atomicWrite(const FilePieces& pieces, const ByteSource* original,
                                     const QString& path, const std::optional<FileStamp>& loaded,
                                     TemporaryKind kind) {
    auto failure = [&path](const QString& reason) {
        return AppError::tagWriteFailed(path, QStringLiteral("Atomic write failed: ") + reason);
    };

    // Replace the real file, not a symbolic link that points at it.
    const QByteArray native = QFile::encodeName(path);
    char* resolved = ::realpath(native.constData(), nullptr);
    if (resolved == nullptr) {
        throw failure(errnoText(errno));
    }
    const QByteArray target(resolved);
    std::free(resolved);

    struct stat targetStatus {};
    if (::stat(target.constData(), &targetStatus) != 0) {
        throw failure(errnoText(errno));
    }
    if (!S_ISREG(targetStatus.st_mode)) {
        throw failure(QStringLiteral("Not a regular file"));
    }

    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash > 0 ? target.left(slash) : QByteArrayLiteral("/");
    const QByteArray fileName = target.mid(slash + 1);
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QByteArray temporaryPath = folder + '/' + temporaryName(fileName, uuid);

    // Everything up to the moment the temporary file needs its name.
    const auto fill = [&](TemporaryFile& temporary) {
        const int fd = temporary.fd();
        // Keep owner and permissions where the system lets us; a file system
        // without them (FAT on a USB stick) refuses, and the write goes on.
        if (::fchown(fd, targetStatus.st_uid, targetStatus.st_gid) != 0) {
            // Only the owner's own ids are allowed; the file stays ours.
        }
        if (::fchmod(fd, targetStatus.st_mode & 07777) != 0) {
            // Same as above: the folder's defaults apply.
        }
        RangeCopier copier;
        for (const FilePieces::Piece& piece : pieces.pieces()) {
            if (!piece.isCopy()) {
                if (!writeAll(fd, piece.bytes.constData(), piece.bytes.size())) {
                    throw failure(errnoText(errno));
                }
            } else if (original == nullptr) {
                throw failure(QStringLiteral("No file to copy from"));
            } else if (!copier.copy(original->descriptor(), piece.from, fd, piece.length)) {
                throw failure(errno != 0 ? errnoText(errno)
                                         : QStringLiteral("The file changed while it was read"));
            }
        }
        copyExtendedAttributes(target, fd);
        if (::fsync(fd) != 0) {
            throw failure(errnoText(errno));
        }
        if (loaded) {
            struct stat now {};
            if (::stat(target.constData(), &now) != 0) {
                throw failure(errnoText(errno));
            }
            if (!(stampOf(now) == *loaded)) {
                throw failure(QStringLiteral("The file was changed by someone else since it was loaded"));
            }
        }
    };

    std::optional<TemporaryFile> temporary;
    if (kind == TemporaryKind::unnamedWhereSupported) {
        const int fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            temporary.emplace(QByteArray(), fd);
            fill(*temporary);
            if (!temporary->link(temporaryPath)) {
                temporary.reset(); // a system without /proc: write it again under its name
            }
        }
    }
    if (!temporary) {
        const int fd = ::open(temporaryPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            throw failure(errnoText(errno));
        }
        temporary.emplace(temporaryPath, fd);
        fill(*temporary);
    }
    if (!temporary->close()) {
        throw failure(errnoText(errno));
    }
    if (::rename(temporaryPath.constData(), target.constData()) != 0) {
        throw failure(errnoText(errno));
    }
    temporary->keep();
    syncFolder(folder);

    Console::line(QStringLiteral("[TagIO] Atomic write complete: ") + QFileInfo(path).fileName());
}
