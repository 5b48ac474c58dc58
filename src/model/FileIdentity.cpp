#include "model/FileIdentity.h"

#include <QFile>

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>

bool FileIdentity::operator==(const FileIdentity& other) const {
    return device == other.device && (inode == other.inode || !inodeKept || !other.inodeKept) &&
           size == other.size && modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds && throughLink == other.throughLink;
}

std::optional<FileSystemKind> FileSystemKind::of(int fd) {
    struct statfs fileSystem {};
    struct stat status {};
    if (::fstatfs(fd, &fileSystem) != 0 || ::fstat(fd, &status) != 0) {
        return std::nullopt;
    }
    return FileSystemKind{static_cast<std::uint32_t>(fileSystem.f_type), major(status.st_dev)};
}

std::optional<FileSystemKind> FileSystemKind::ofPath(const QByteArray& native) {
    struct statfs fileSystem {};
    struct stat status {};
    if (::statfs(native.constData(), &fileSystem) != 0 || ::stat(native.constData(), &status) != 0) {
        return std::nullopt;
    }
    return FileSystemKind{static_cast<std::uint32_t>(fileSystem.f_type), major(status.st_dev)};
}

bool FileIdentity::keepsInodeNumbers(const FileSystemKind& fileSystem) {
    switch (fileSystem.magic) {
    case MSDOS_SUPER_MAGIC: // also vfat
    case EXFAT_SUPER_MAGIC:
    case CIFS_SUPER_MAGIC:
    case SMB2_SUPER_MAGIC:
        return false;
    default:
        return true;
    }
}

FileIdentity FileIdentity::of(const struct stat& status, bool throughLink) {
    FileIdentity identity;
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.inode = static_cast<std::uint64_t>(status.st_ino);
    identity.size = static_cast<qint64>(status.st_size);
    identity.modifiedSeconds = static_cast<qint64>(status.st_mtim.tv_sec);
    identity.modifiedNanoseconds = static_cast<qint64>(status.st_mtim.tv_nsec);
    identity.throughLink = throughLink;
    return identity;
}

FileIdentity FileIdentity::of(int fd, const struct stat& status, bool throughLink) {
    FileIdentity identity = of(status, throughLink);
    const std::optional<FileSystemKind> fileSystem = FileSystemKind::of(fd);
    identity.inodeKept = !fileSystem || keepsInodeNumbers(*fileSystem);
    return identity;
}

std::optional<FileIdentity> FileIdentity::ofPath(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(native.constData(), &status) != 0) {
        return std::nullopt;
    }
    const bool link = S_ISLNK(status.st_mode);
    if (link && ::stat(native.constData(), &status) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    FileIdentity identity = of(status, link);
    // Where the file system cannot be asked, the inode is compared as anywhere else.
    const std::optional<FileSystemKind> fileSystem = FileSystemKind::ofPath(native);
    identity.inodeKept = !fileSystem || keepsInodeNumbers(*fileSystem);
    return identity;
}
