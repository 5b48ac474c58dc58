#include "tagio/UniversalTagWriter.h"

#include "model/AppError.h"
#include "model/Console.h"
#include "model/DebugLogger.h"
#include "tagio/ByteSource.h"
#include "tagio/FilePieces.h"
#include "tagio/LeftoverSweep.h"
#include "tagio/TagHandler.h"
#include "tagio/TemporaryFile.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
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

QString yearText(const std::optional<TagYear>& year) {
    return year ? year->text() : QStringLiteral("nil");
}

// The handler for a format whose tags are written; AppError::unsupportedFormat for any other.
const TagHandler& handlerFor(AudioFormat format) {
    const TagHandler* handler = tagHandlerFor(format);
    if (handler == nullptr) {
        throw AppError::unsupportedFormat(rawValue(format));
    }
    return *handler;
}

// What a write says when the path no longer names the file it was given.
QString changedText() {
    return QStringLiteral("The file was changed or replaced by someone else since it was loaded");
}

bool isSymbolicLink(const QByteArray& native) {
    struct stat st {};
    return ::lstat(native.constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

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

} // namespace

FileIdentity UniversalTagWriter::writeGenre(const QString& genre, std::optional<TagYear> year,
                                            std::optional<QString> title, std::optional<QString> artist,
                                            const QString& path, AudioFormat format,
                                            const std::optional<FileIdentity>& expected) {
    const QString raw = rawValue(format);
    const TagHandler* handler = tagHandlerFor(format);
    if (handler == nullptr) {
        Console::line(QStringLiteral("[TagIO] Write skipped \u2013 format '") + raw +
                      QStringLiteral("' does not support tag writing"));
        throw AppError::unsupportedFormat(raw);
    }

    std::lock_guard lock(writeLock());
    const QString name = QFileInfo(path).fileName();
    Console::line(QStringLiteral("[TagIO] UniversalTagWriter.writeGenre '") + genre +
                  QStringLiteral("' year=") + yearText(year) + QStringLiteral(" format=") + raw +
                  QStringLiteral(" -> ") + name);
    if (format == AudioFormat::flac) {
        DebugLogger::shared().log(QStringLiteral("FLAC writeGenre '") + genre + QStringLiteral("' year=") +
                                      yearText(year) + QStringLiteral(" \u2192 ") + name,
                                  LogCategory::write);
    } else {
        Console::line(QStringLiteral("[TagIO] ") + handler->name() + QStringLiteral(".writeGenre '") + genre +
                      QStringLiteral("' year=") + yearText(year) + QStringLiteral(" -> ") + name);
    }

    try {
        // Without an identity the path is the user's own choice, a link included.
        const bool follow = !expected || expected->throughLink;
        const std::optional<ByteSource> source =
            ByteSource::open(path, follow ? ByteSource::Links::follow : ByteSource::Links::refuse);
        if (!source) {
            // ELOOP: a link where the scan saw none; EINVAL: no regular file (a FIFO, a folder).
            const QString reason = !follow && errno == ELOOP ? changedText()
                                   : errno == EINVAL         ? QStringLiteral("Not a regular file")
                                                             : errnoText(errno);
            throw AppError::tagWriteFailed(path, reason);
        }
        struct stat st {};
        if (::fstat(source->descriptor(), &st) != 0) {
            throw AppError::tagWriteFailed(path, errnoText(errno));
        }
        const FileIdentity opened =
            FileIdentity::of(source->descriptor(), st,
                             expected ? expected->throughLink : isSymbolicLink(QFile::encodeName(path)));
        if (expected && !(opened == *expected)) {
            throw AppError::tagWriteFailed(path, changedText());
        }
        handler->refuseWhatTheReaderRefuses(*source, path);
        const FilePieces pieces = handler->describeGenreWrite(
            {genre, year, std::move(title), std::move(artist)}, *source, path);
        return atomicWrite(pieces, &*source, path, opened);
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
    return handlerFor(format).readGenre(path);
}

UniversalTagWriter::TitleArtist UniversalTagWriter::readTitleAndArtist(const QString& path,
                                                                       AudioFormat format) {
    std::lock_guard lock(writeLock());
    return handlerFor(format).readTitleAndArtist(path);
}

std::optional<QString> UniversalTagWriter::readDateText(const QString& path, AudioFormat format) {
    std::lock_guard lock(writeLock());
    return handlerFor(format).readDateText(path);
}

UniversalTagWriter::LoadedFile UniversalTagWriter::loadFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
    loaded.stamp = FileIdentity::of(fd, st, isSymbolicLink(native));
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

FileIdentity UniversalTagWriter::atomicWrite(const QByteArray& data, const QString& path,
                                             const std::optional<FileStamp>& loaded) {
    FilePieces pieces;
    pieces.append(data);
    return atomicWrite(pieces, nullptr, path, loaded);
}

FileIdentity UniversalTagWriter::atomicWrite(const FilePieces& pieces, const ByteSource* original,
                                             const QString& path, const std::optional<FileStamp>& loaded,
                                             TemporaryKind kind) {
    auto failure = [&path](const QString& reason) {
        return AppError::tagWriteFailed(path, QStringLiteral("Atomic write failed: ") + reason);
    };
    const auto resolved = [&failure](const QByteArray& native) {
        char* real = ::realpath(native.constData(), nullptr);
        if (real == nullptr) {
            throw failure(errnoText(errno));
        }
        const QByteArray out(real);
        std::free(real);
        return out;
    };

    // Replace the real file, not a symbolic link that points at it; a path
    // loaded as no link that is one now had it swapped in by someone else.
    const QByteArray native = QFile::encodeName(path);
    struct stat pathStatus {};
    if (::lstat(native.constData(), &pathStatus) != 0) {
        throw failure(errnoText(errno));
    }
    const bool throughLink = S_ISLNK(pathStatus.st_mode);
    if (loaded && loaded->throughLink != throughLink) {
        throw failure(changedText());
    }
    QByteArray target;
    if (throughLink) {
        target = resolved(native);
    } else {
        // The folder resolved, the file itself as it is: no link.
        const qsizetype cut = native.lastIndexOf('/');
        const QByteArray parent = cut < 0 ? QByteArrayLiteral(".") : native.left(std::max<qsizetype>(cut, 1));
        target = resolved(parent) + '/' + native.mid(cut + 1);
    }

    struct stat targetStatus {};
    if (::lstat(target.constData(), &targetStatus) != 0) {
        throw failure(errnoText(errno));
    }
    if (!S_ISREG(targetStatus.st_mode)) {
        throw failure(QStringLiteral("Not a regular file"));
    }
    const FileIdentity expected = loaded ? *loaded : FileIdentity::of(targetStatus, throughLink);
    if (!(FileIdentity::of(targetStatus, throughLink) == expected)) {
        throw failure(changedText());
    }
    // The rename below would replace a file its mode forbids us to write.
    if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0) {
        throw failure(errno == EACCES || errno == EPERM ? QStringLiteral("The file is read-only")
                      : errno == EROFS                  ? QStringLiteral("The file system is read-only")
                                                        : errnoText(errno));
    }

    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash > 0 ? target.left(slash) : QByteArrayLiteral("/");
    const QByteArray fileName = target.mid(slash + 1);
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QByteArray temporaryPath = folder + '/' + TemporaryFile::name(fileName, uuid);
    LeftoverSweep::run(folder);

    TemporaryFile temporary;
    if (!temporary.create(folder, temporaryPath, kind == TemporaryKind::unnamedWhereSupported, target)) {
        throw failure(errnoText(errno));
    }
    const int fd = temporary.fd();

    // Keep owner, group and permissions. Only root may give a file to another
    // owner, so another user's file is refused; the user's own file whose group
    // the user is not in gets the user's group. A file system without owners
    // (FAT) refuses the change but gives the new file the owner the old one
    // shows, and the write goes on.
    if (::fchown(fd, targetStatus.st_uid, targetStatus.st_gid) != 0) {
        // Checked below by what the new file shows.
    }
    struct stat made {};
    if (::fstat(fd, &made) != 0) {
        throw failure(errnoText(errno));
    }
    if (made.st_uid != targetStatus.st_uid) {
        throw failure(QStringLiteral("The file belongs to another user"));
    }
    if (made.st_gid != targetStatus.st_gid) {
        DebugLogger::shared().log(QStringLiteral("Group ") + QString::number(targetStatus.st_gid) +
                                      QStringLiteral(" of ") + QFileInfo(path).fileName() +
                                      QStringLiteral(" cannot be kept: the new file has group ") +
                                      QString::number(made.st_gid),
                                  LogCategory::write);
    }
    if (::fchmod(fd, targetStatus.st_mode & 07777) != 0) {
        // A file system without permissions (FAT): the folder's defaults apply.
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
    if (::fsync(fd) != 0 || ::fstat(fd, &made) != 0) {
        throw failure(errnoText(errno));
    }
    const FileIdentity written = FileIdentity::of(fd, made, throughLink);
    if (!temporary.named() && !temporary.link(temporaryPath)) {
        throw failure(errnoText(errno));
    }
    if (!temporary.close()) {
        throw failure(errnoText(errno));
    }
    // The last step before the rename: the target must still be the file it
    // was (the window that remains is the rename itself).
    struct stat now {};
    if (::lstat(target.constData(), &now) != 0) {
        throw failure(errnoText(errno));
    }
    FileIdentity current = FileIdentity::of(now, throughLink);
    current.inodeKept = written.inodeKept; // the same file system
    if (!S_ISREG(now.st_mode) || !(current == expected)) {
        throw failure(changedText());
    }
    if (::rename(temporaryPath.constData(), target.constData()) != 0) {
        throw failure(errnoText(errno));
    }
    temporary.keep();
    syncFolder(folder);

    Console::line(QStringLiteral("[TagIO] Atomic write complete: ") + QFileInfo(path).fileName());
    return written;
}
