#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <linux/capability.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// Fixtures are never changed in place: a test copies one into its own temporary folder first.
namespace TestFiles {

// Absolute path of a committed fixture, e.g. fixturePath("id3/v23.mp3").
inline QString fixturePath(const QString& relative) {
    return QDir(QStringLiteral(VELMORA_FIXTURES_DIR)).filePath(relative);
}

// Copies a fixture into `dir` (under its file name, or `newName`) and returns the copy's path.
inline QString copyFixture(const QString& relative, const QTemporaryDir& dir, const QString& newName = {}) {
    const QString source = fixturePath(relative);
    const QString target = dir.filePath(newName.isEmpty() ? QFileInfo(source).fileName() : newName);
    QFile::remove(target);
    if (!QFile::copy(source, target)) {
        throw std::runtime_error("cannot copy fixture " + source.toStdString());
    }
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return target;
}

// Permission bits of `path` itself (a link is not followed); 0 when it does not exist.
inline mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("cannot read " + path.toStdString());
    }
    return file.readAll();
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
}

// A file of `size` bytes: `head`, a hole, and each of `pieces` at its offset; false where the
// file system cannot.
inline bool writeSparse(const QString& path, const QByteArray& head, qint64 size,
                        const QList<QPair<qint64, QByteArray>>& pieces = {}) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(std::max(size, qint64(head.size()))) &&
           file.write(head) == head.size() && std::all_of(pieces.begin(), pieces.end(), [&](const auto& p) {
               return file.seek(p.first) && file.write(p.second) == p.second.size();
           });
}

// The bytes this process has taken by read calls so far (rchar of /proc/self/io: also those of
// holes and of the page cache); -1 where the kernel does not count them.
inline qint64 bytesReadSoFar() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray text = io.readAll();
    const qsizetype at = text.indexOf("rchar: ");
    bool ok = false;
    const qint64 bytes = text.mid(at + 7, text.indexOf('\n', at) - at - 7).toLongLong(&ok);
    return at >= 0 && ok ? bytes : -1;
}

// How many descriptors this process has open, of files and folders alike.
inline qsizetype openDescriptors() {
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
}

// What `run` costs in a child process (an exception counts as done): the growth of its peak
// resident memory (KiB) and the bytes its reads take (-1 where not counted); both -1 when the
// child died first.
struct ChildCost {
    long peakGrowthKiB = -1;
    qint64 bytesRead = -1;
};
inline ChildCost costInChild(const std::function<void()>& run) {
    int fds[2];
    const pid_t pid = ::pipe(fds) == 0 ? ::fork() : -1;
    if (pid == 0) {
        rusage before{}, after{};
        ::getrusage(RUSAGE_SELF, &before);
        const qint64 readBefore = bytesReadSoFar();
        try {
            run();
        } catch (...) {
        }
        const qint64 readAfter = bytesReadSoFar();
        ::getrusage(RUSAGE_SELF, &after);
        const ChildCost cost{after.ru_maxrss - before.ru_maxrss,
                             readBefore < 0 || readAfter < 0 ? -1 : readAfter - readBefore};
        ::_exit(::write(fds[1], &cost, sizeof cost) == ssize_t(sizeof cost) ? 0 : 1);
    }
    ChildCost cost;
    if (pid > 0) {
        ::close(fds[1]);
        ChildCost sent;
        if (::read(fds[0], &sent, sizeof sent) == ssize_t(sizeof sent)) {
            cost = sent;
        }
        ::close(fds[0]);
        ::waitpid(pid, nullptr, 0);
    } else if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    return cost;
}

// Growth of the peak resident memory (KiB) while `run` runs in a child process; -1 when the
// child died first.
inline long peakGrowthKiB(const std::function<void()>& run) {
    return costInChild(run).peakGrowthKiB;
}

// Removes `path` and all it holds, also names that are not UTF-8 and folders a test closed
// (their owner's permissions come back first), which QTemporaryDir leaves behind. Safe where
// others may write: each folder is opened below the one before without following a link, so a
// link, also one swapped in meanwhile, is removed and never followed. A file system mounted
// inside is left alone and named on stderr.
void removeTree(const std::filesystem::path& path);
inline void removeTree(const QString& path) {
    removeTree(std::filesystem::path(QFile::encodeName(path).toStdString()));
}

// While it lives, permission bits hold for the calling thread and the threads
// it starts meanwhile, also as root: CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH
// leave the thread's effective set and come back at the end.
class PermissionBitsHold {
public:
    PermissionBitsHold() {
        if (::syscall(SYS_capget, &m_header, m_saved) == 0) {
            __user_cap_data_struct held[2] = {m_saved[0], m_saved[1]};
            held[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
            m_held = ::syscall(SYS_capset, &m_header, held) == 0;
        }
    }
    ~PermissionBitsHold() {
        if (m_held) {
            ::syscall(SYS_capset, &m_header, m_saved);
        }
    }
    PermissionBitsHold(const PermissionBitsHold&) = delete;
    PermissionBitsHold& operator=(const PermissionBitsHold&) = delete;

    // False when root could not give the capabilities up.
    bool holds() const { return m_held || ::geteuid() != 0; }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_held = false;
};

} // namespace TestFiles
