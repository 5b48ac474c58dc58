#include "tagio/LeftoverSweep.h"

#include "model/FileIdentity.h"
#include "tagio/TemporaryFile.h"

#include <QHash>
#include <QList>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether any process has the file open, by the open files /proc lists for
// each process, passing over our own descriptor `own` (-1: none); true when
// /proc cannot be read, so that the file is kept.
bool isOpenByAnyProcess(const struct stat& file, int own) {
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr) {
        return true;
    }
    const QByteArray ownEntry = QByteArrayLiteral("/proc/") + QByteArray::number(::getpid()) +
                                QByteArrayLiteral("/fd/") + QByteArray::number(own);
    bool open = false;
    while (const dirent* process = open ? nullptr : ::readdir(processes)) {
        if (process->d_name[0] < '0' || process->d_name[0] > '9') {
            continue;
        }
        const QByteArray folder = QByteArrayLiteral("/proc/") + process->d_name + QByteArrayLiteral("/fd/");
        DIR* descriptors = ::opendir(folder.constData());
        if (descriptors == nullptr) {
            continue; // ended meanwhile, or not ours to look into
        }
        while (const dirent* descriptor = ::readdir(descriptors)) {
            const QByteArray entry = folder + descriptor->d_name;
            struct stat st {};
            if (entry != ownEntry && ::stat(entry.constData(), &st) == 0 && st.st_dev == file.st_dev &&
                st.st_ino == file.st_ino) {
                open = true;
                break;
            }
        }
        ::closedir(descriptors);
    }
    ::closedir(processes);
    return open;
}

// Removes `name` in the open folder `folder` if it is the temporary file of a
// killed write; true when it is gone. A lock we can take marks a killed write
// where locks reach every writer (`locksTell`). Where that cannot be known
// (another file system, a file we may not open, no locks) only a file older
// than any write could take counts as killed. Either way a file that some
// process has open (a write of a version that did not lock) stays.
bool removeIfKilled(int folder, const QByteArray& name, bool locksTell) {
    const int file = ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const auto removed = [&] {
        struct stat st {};
        if (file >= 0 ? ::fstat(file, &st) != 0
                      : ::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno == ENOENT; // gone meanwhile
        }
        if (!S_ISREG(st.st_mode)) {
            return false;
        }
        bool killed = ::time(nullptr) - qint64(st.st_mtim.tv_sec) > LeftoverSweep::ageSeconds;
        if (file >= 0 && locksTell) {
            if (::flock(file, LOCK_EX | LOCK_NB) == 0) {
                killed = true; // and held by us until it is removed
            } else if (errno == EWOULDBLOCK) {
                return false; // a live write
            }
            // Any other failure: no locks on this file system, so the age decides.
        }
        return killed && !isOpenByAnyProcess(st, file) && ::unlinkat(folder, name.constData(), 0) == 0;
    }();
    if (file >= 0) {
        ::close(file);
    }
    return removed;
}

// The names in `folder` that look like leftovers of killed writes.
QList<QByteArray> leftoverNames(const QByteArray& folder) {
    QList<QByteArray> names;
    DIR* entries = ::opendir(folder.constData());
    if (entries == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(entries)) {
        if (TemporaryFile::isName(entry->d_name)) {
            names.append(QByteArray(entry->d_name));
        }
    }
    ::closedir(entries);
    return names;
}

} // namespace

void LeftoverSweep::run(const QByteArray& folder) {
    using Clock = std::chrono::steady_clock;
    struct Known {
        QList<QByteArray> names;
        timespec changed{}; // the folder's modification time before the read
        Clock::time_point readAt;
        Clock::duration readTook{};
    };
    static std::mutex mutex;
    static QHash<QByteArray, Known> known; // by folder
    std::lock_guard lock(mutex);
    struct stat st {};
    if (::stat(folder.constData(), &st) != 0) {
        return;
    }
    const Clock::time_point now = Clock::now();
    auto found = known.find(folder);
    if (found == known.end() ||
        ((st.st_mtim.tv_sec != found->changed.tv_sec || st.st_mtim.tv_nsec != found->changed.tv_nsec) &&
         now - found->readAt >= 50 * found->readTook)) {
        found = known.insert(folder, {leftoverNames(folder), st.st_mtim, now, {}});
        found->readTook = Clock::now() - now;
    }
    if (found->names.isEmpty()) {
        return;
    }
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const std::optional<FileSystemKind> fileSystem = FileSystemKind::of(fd);
    const bool locksTell = fileSystem && locksReachEveryWriter(*fileSystem);
    found->names.removeIf([&](const QByteArray& name) { return removeIfKilled(fd, name, locksTell); });
    ::close(fd);
}

bool LeftoverSweep::locksReachEveryWriter(const FileSystemKind& fileSystem) {
    constexpr std::uint32_t ntfs3Magic = 0x7366746e; // the kernel's NTFS driver
    switch (fileSystem.magic) {
    case EXT4_SUPER_MAGIC: // also ext2 and ext3
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
    case MSDOS_SUPER_MAGIC: // also vfat
    case EXFAT_SUPER_MAGIC:
    case ntfs3Magic:
        return true;
    case FUSE_SUPER_MAGIC:
        // fuseblk (ntfs-3g, exfat-fuse) is mounted from a local block device and its files carry that
        // device's number; every other FUSE mount (sshfs) has an anonymous one, major 0.
        return fileSystem.deviceMajor != 0;
    default:
        return false;
    }
}
