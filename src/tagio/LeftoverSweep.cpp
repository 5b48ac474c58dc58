#include "tagio/LeftoverSweep.h"

#include "model/FileIdentity.h"
#include "tagio/TemporaryFile.h"

#include <QHash>
#include <QList>

#include <algorithm>
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

// Enough of an fdinfo file for the lines that tell which file it is ("mnt_id:", "ino:").
constexpr qsizetype fdinfoBytes = 128;

// The text of the file `name` in the open folder `folder` (a file of /proc, made by the kernel as
// it is read), up to `limit` bytes, or only what the first read gives (`whole` false: an fdinfo
// file, whose first lines are all that counts); no value when it cannot be read.
std::optional<QByteArray> readProcFile(int folder, const char* name, qsizetype limit, bool whole) {
    const int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<QByteArray> text(std::in_place);
    char block[4096];
    while (text->size() < limit) {
        const ssize_t n = ::read(fd, block, size_t(std::min<qsizetype>(limit - text->size(), sizeof block)));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            text.reset();
        }
        if (n <= 0) {
            break;
        }
        text->append(block, n);
        if (!whole) {
            break;
        }
    }
    ::close(fd);
    return text;
}

// The number after `key` (such as "\nino:\t") in an fdinfo text; no value without it.
std::optional<quint64> fieldOf(const QByteArray& text, const QByteArray& key) {
    const qsizetype at = text.indexOf(key);
    if (at < 0) {
        return std::nullopt;
    }
    const qsizetype from = at + key.size();
    const qsizetype end = text.indexOf('\n', from);
    bool ok = false;
    const quint64 value = end < 0 ? 0 : text.mid(from, end - from).toULongLong(&ok); // a whole line only
    return ok ? std::optional(value) : std::nullopt;
}

// The open file an fdinfo text describes: its inode number and the id of the mount it was opened
// through (as /proc/PID/mountinfo numbers mounts).
struct Described {
    quint64 inode = 0, mount = 0;
};
std::optional<Described> describedBy(const std::optional<QByteArray>& text) {
    const std::optional<quint64> inode = text ? fieldOf(*text, "\nino:\t") : std::nullopt;
    const std::optional<quint64> mount = text ? fieldOf(*text, "\nmnt_id:\t") : std::nullopt;
    if (!inode || !mount) {
        return std::nullopt;
    }
    return Described{*inode, *mount};
}

// The file system ("major:minor") of each mount of ours, by mount id, from `processes`/self/mountinfo.
QHash<quint64, QByteArray> mountedFileSystems(int processes) {
    QHash<quint64, QByteArray> fileSystems;
    const std::optional<QByteArray> table = readProcFile(processes, "self/mountinfo", 16 << 20, true);
    for (const QByteArray& line : table ? table->split('\n') : QList<QByteArray>()) {
        const QList<QByteArray> fields = line.split(' ');
        bool ok = false;
        const quint64 id = fields.value(0).toULongLong(&ok);
        if (ok && fields.size() > 2) {
            fileSystems.insert(id, fields[2]);
        }
    }
    return fileSystems;
}

// Whether the descriptor that `text` describes may be the open file `file`: the same inode number
// through the same mount, or through another mount that is not surely of another file system (a
// bind mount of the same one, or a mount this process cannot see). True when it cannot be told.
bool maybeSame(const std::optional<QByteArray>& text, const Described& file, int processes) {
    const std::optional<Described> other = describedBy(text);
    if (!other) {
        return true;
    }
    if (other->inode != file.inode) {
        return false;
    }
    if (other->mount == file.mount) {
        return true;
    }
    const QHash<quint64, QByteArray> fileSystems = mountedFileSystems(processes); // seldom: the same number
    return !fileSystems.contains(file.mount) || !fileSystems.contains(other->mount) ||
           fileSystems[file.mount] == fileSystems[other->mount];
}

// The file `name` in the open folder `folder`, if it belongs to the user and is a regular file:
// opened for writing where it may be (so that it can be emptied where its removal is refused), else
// for reading (for its lock), else as a path only (a file its user may not read).
struct Candidate {
    int fd = -1;
    struct stat status {};
};
std::optional<Candidate> openOwnFile(int folder, const char* name) {
    const auto own = [](const struct stat& st) {
        return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
    };
    Candidate candidate;
    // Looked at first, so that no one else's file, link or FIFO is ever opened.
    if (::fstatat(folder, name, &candidate.status, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    if (!own(candidate.status)) {
        errno = 0;
        return std::nullopt;
    }
    for (const int access : {O_RDWR, O_RDONLY, O_PATH}) {
        candidate.fd = ::openat(folder, name, access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (candidate.fd >= 0 || errno == ENOENT) {
            break;
        }
        // Refused (no permission, a read-only file system): asked again for less.
    }
    if (candidate.fd < 0) {
        return std::nullopt;
    }
    // Replaced since it was looked at: the open file decides.
    if (::fstat(candidate.fd, &candidate.status) != 0 || !own(candidate.status)) {
        ::close(candidate.fd);
        errno = 0;
        return std::nullopt;
    }
    return candidate;
}

// Removes `name` in the open folder `folder` if it is the temporary file of a
// killed write of this user; true when it is gone. A lock we can take marks a
// killed write where locks reach every writer (`locksTell`). Where that cannot
// be known (another file system, a file we may not read, no locks) only a file
// older than any write could take counts as killed. Either way a file that
// some process has open (a write of a version that did not lock) stays.
bool removeIfKilled(int folder, const QByteArray& name, bool locksTell) {
    const std::optional<Candidate> file = openOwnFile(folder, name.constData());
    if (!file) {
        return errno == ENOENT; // gone meanwhile
    }
    const auto removed = [&] {
        bool killed = ::time(nullptr) - qint64(file->status.st_mtim.tv_sec) > LeftoverSweep::ageSeconds;
        if (locksTell) {
            if (::flock(file->fd, LOCK_EX | LOCK_NB) == 0) {
                killed = true; // and held by us until it is removed
            } else if (errno == EWOULDBLOCK) {
                return false; // a live write
            }
            // Any other failure: no locks on this file system (or a path only), so the age decides.
        }
        if (!killed || LeftoverSweep::isOpenByAnyProcess(file->fd, name)) {
            return false;
        }
        return TemporaryFile::remove(folder, name, file->fd, TemporaryFile::targetOf(name));
    }();
    ::close(file->fd);
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

std::mutex sweepMutex;           // sweeps take turns
LeftoverSweep::Clock sweepClock; // empty: steady_clock's; guarded by sweepMutex

} // namespace

void LeftoverSweep::setClock(Clock clock) {
    std::lock_guard lock(sweepMutex);
    sweepClock = std::move(clock);
}

void LeftoverSweep::run(const QByteArray& folder) {
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Known {
        QList<QByteArray> names;
        timespec changed{}; // the folder's modification time before the read
        TimePoint readAt;
        TimePoint::duration readTook{};
    };
    static QHash<QByteArray, Known> known; // by folder
    std::lock_guard lock(sweepMutex);
    const auto clockNow = [] {
        return sweepClock ? sweepClock() : std::chrono::steady_clock::now();
    };
    struct stat st {};
    if (::stat(folder.constData(), &st) != 0) {
        return;
    }
    const TimePoint now = clockNow();
    auto found = known.find(folder);
    if (found == known.end() ||
        ((st.st_mtim.tv_sec != found->changed.tv_sec || st.st_mtim.tv_nsec != found->changed.tv_nsec) &&
         now - found->readAt >= 50 * found->readTook)) {
        found = known.insert(folder, {leftoverNames(folder), st.st_mtim, now, {}});
        found->readTook = clockNow() - now;
    }
    if (found->names.isEmpty()) {
        return;
    }
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    // Only a folder we may change lets a leftover go, and only then is one emptied.
    if (::faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        ::close(fd);
        return;
    }
    const std::optional<FileSystemKind> fileSystem = FileSystemKind::of(fd);
    const bool locksTell = fileSystem && locksReachEveryWriter(*fileSystem);
    found->names.removeIf([&](const QByteArray& name) { return removeIfKilled(fd, name, locksTell); });
    ::close(fd);
}

bool LeftoverSweep::isOpenByAnyProcess(int own, const QByteArray& name, const QByteArray& processes) {
    struct stat status {};
    DIR* all = ::fstat(own, &status) == 0 ? ::opendir(processes.constData()) : nullptr;
    if (all == nullptr) {
        return true;
    }
    const QByteArray ownName = QByteArray::number(own);
    const QByteArray self = QByteArray::number(::getpid());
    const std::optional<Described> file =
        describedBy(readProcFile(::dirfd(all), "self/fdinfo/" + ownName, fdinfoBytes, false));
    // A descriptor's link names the file it was opened through (text the kernel keeps, no call to the
    // file system), so with a single name only links naming it, or a name since removed, may be the
    // file, and only theirs need the fdinfo read; a file of several names may be open through any.
    const bool anyLink = status.st_nlink != 1;
    const QByteArray named = '/' + name;
    const auto mayBeTheFile = [&](int descriptors, const char* descriptor) {
        if (anyLink) {
            return true;
        }
        char link[4096];
        const ssize_t length = ::readlinkat(descriptors, descriptor, link, sizeof link);
        if (length < 0) {
            // Closed meanwhile, or not ours to look into (as the process's other files): passed over.
            return errno != ENOENT && errno != EACCES && errno != EPERM;
        }
        const QByteArrayView text(link, length);
        return length == ssize_t(sizeof link) || text.endsWith(named) || text.endsWith(" (deleted)");
    };
    bool open = !file;
    while (const dirent* process = open ? nullptr : ::readdir(all)) {
        if (process->d_name[0] < '0' || process->d_name[0] > '9') {
            continue;
        }
        const QByteArray folder = processes + '/' + process->d_name;
        DIR* descriptors = ::opendir((folder + QByteArrayLiteral("/fd")).constData());
        if (descriptors == nullptr) {
            continue; // ended meanwhile, or not ours to look into
        }
        const bool ours = self == process->d_name;
        int infos = -1; // the process's fdinfo folder, opened for its first descriptor that may be the file
        while (const dirent* descriptor = open ? nullptr : ::readdir(descriptors)) {
            if (descriptor->d_name[0] == '.' || (ours && ownName == descriptor->d_name) ||
                !mayBeTheFile(::dirfd(descriptors), descriptor->d_name)) {
                continue;
            }
            if (infos < 0) {
                infos = ::open((folder + QByteArrayLiteral("/fdinfo")).constData(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (infos < 0) {
                    break; // ended meanwhile, or not ours to look into
                }
            }
            const std::optional<QByteArray> text =
                readProcFile(infos, descriptor->d_name, fdinfoBytes, false);
            // A descriptor closed meanwhile is passed over; one that cannot be read counts.
            open = (text || errno != ENOENT) && maybeSame(text, *file, ::dirfd(all));
        }
        if (infos >= 0) {
            ::close(infos);
        }
        ::closedir(descriptors);
    }
    ::closedir(all);
    return open;
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
