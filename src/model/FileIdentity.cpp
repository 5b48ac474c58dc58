#include "model/FileIdentity.h"

#include <QFile>

#include <sys/stat.h>

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
    return of(status, link);
}
