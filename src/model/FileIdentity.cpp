#include "model/FileIdentity.h"

#include <QFile>

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

bool FileIdentity::operator==(const FileIdentity& other) const {
    return device == other.device && (inode == other.inode || !inodeKept || !other.inodeKept) &&
           size == other.size && modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds && throughLink == other.throughLink;
}

bool FileIdentity::keepsInodeNumbers(const struct statfs& fileSystem) {
    switch (static_cast<std::uint32_t>(fileSystem.f_type)) {
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
    struct statfs fileSystem {};
    identity.inodeKept = ::statfs(native.constData(), &fileSystem) != 0 || keepsInodeNumbers(fileSystem);
    return identity;
}
