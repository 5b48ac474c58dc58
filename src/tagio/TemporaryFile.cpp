#include "tagio/TemporaryFile.h"

#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// What name() puts behind the file name: this tag, then the uuid (36 characters without braces).
constexpr char suffixTag[] = ".tmp-";
constexpr size_t suffixTagBytes = sizeof suffixTag - 1;
constexpr size_t uuidBytes = 36;

} // namespace

TemporaryFile::~TemporaryFile() {
    if (!m_kept && !m_path.isEmpty()) {
        // Left, where it cannot be removed, for the next write's sweep (see LeftoverSweep).
        remove(AT_FDCWD, m_path, m_fd >= 0 ? m_fd : m_lock, m_target); // the same open file
    }
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    unlock(); // once the name is gone
}

bool TemporaryFile::remove(int folder, const QByteArray& name, int open, const QByteArray& target) {
    if (::unlinkat(folder, name.constData(), 0) == 0) {
        return true;
    }
    if ((errno != ENOSPC && errno != EDQUOT) || open < 0 || target.isEmpty()) {
        return false; // refused for another reason: emptying would free nothing it is refused for
    }
    // Only a file of one name, `name`, which the target's name surely does not lead to, is ours alone.
    struct stat opened {};
    struct stat named {};
    struct stat replaced {};
    const auto isOpened = [&opened](const struct stat& other) {
        return other.st_dev == opened.st_dev && other.st_ino == opened.st_ino;
    };
    if (::fstat(open, &opened) != 0 || opened.st_nlink != 1 ||
        ::fstatat(folder, name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !isOpened(named) ||
        (::fstatat(folder, target.constData(), &replaced, AT_SYMLINK_NOFOLLOW) == 0 ? isOpened(replaced)
                                                                                    : errno != ENOENT)) {
        return false;
    }
    return ::ftruncate(open, 0) == 0 && ::unlinkat(folder, name.constData(), 0) == 0;
}

bool TemporaryFile::create(const QByteArray& folder, const QByteArray& path, bool unnamed,
                           const QByteArray& target) {
    m_target = target;
    if (unnamed) {
        m_fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        // Without /proc to name it through: a named file, before any data is written.
        if (m_fd >= 0 && ::access(selfPath().constData(), F_OK) != 0) {
            ::close(std::exchange(m_fd, -1));
        }
    }
    if (m_fd < 0) {
        m_fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            return false;
        }
        m_path = path;
    }
    return lock();
}

// Locks the file (flock) until the rename took it over or its name is gone,
// through a descriptor of its own that outlives close().
bool TemporaryFile::lock() {
    m_lock = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (m_lock < 0) {
        return false;
    }
    if (::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        // No locks on this file system (its leftovers wait for their age), or a named file taken
        // by a removal the moment before: the rename then finds no file and the write fails.
    }
    return true;
}

bool TemporaryFile::link(const QByteArray& path) {
    if (::linkat(AT_FDCWD, selfPath().constData(), AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) != 0) {
        return false;
    }
    m_path = path;
    return true;
}

bool TemporaryFile::close() {
    return ::close(std::exchange(m_fd, -1)) == 0;
}

void TemporaryFile::keep() {
    m_kept = true;
    unlock();
}

QByteArray TemporaryFile::selfPath() const {
    return QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(m_fd);
}

void TemporaryFile::unlock() {
    if (m_lock >= 0) {
        ::close(std::exchange(m_lock, -1));
    }
}

QByteArray TemporaryFile::name(const QByteArray& encodedFileName, const QString& uuidText) {
    const QByteArray suffix = suffixTag + uuidText.toUtf8();
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

bool TemporaryFile::isName(const char* name) {
    // Cheap tests first: a folder may hold tens of thousands of other files.
    const size_t length = std::strlen(name);
    if (name[0] != '.' || length <= suffixTagBytes + uuidBytes ||
        std::memcmp(name + length - uuidBytes - suffixTagBytes, suffixTag, suffixTagBytes) != 0) {
        return false;
    }
    const QByteArray uuid(name + length - uuidBytes);
    return uuid == uuid.toUpper() && !QUuid::fromString(QLatin1StringView(uuid)).isNull();
}

QByteArray TemporaryFile::targetOf(const QByteArray& name) {
    const qsizetype suffix = qsizetype(suffixTagBytes + uuidBytes);
    const qsizetype kept = name.size() - 1 - suffix;
    // name() keeps at most maxNameBytes - 1 - suffix bytes, and cuts up to 3 more at a character.
    if (kept <= 0 || kept > maxNameBytes - 1 - suffix - 4) {
        return {};
    }
    return name.mid(1, kept);
}
