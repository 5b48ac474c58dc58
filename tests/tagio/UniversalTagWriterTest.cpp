#include "tagio/UniversalTagWriter.h"

#include "TagProbe.h"
#include "TestFiles.h"
#include "TestHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <mutex>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex syncedMutex;
QStringList syncedPaths; // every file flushed with fsync, by the path of its descriptor

} // namespace

// Stands in for the C library's fsync in this test program: records the path, then flushes.
extern "C" int fsync(int fd) {
    char target[4096];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
    {
        std::lock_guard lock(syncedMutex);
        syncedPaths.append(n > 0 ? QString::fromLocal8Bit(target, int(n)) : QString());
    }
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

// The new bytes reach the disk before the rename makes them the file, and the
// folder entry after it: a power cut leaves the old file or the new one.
TEST(AtomicWrite, ReplacesTheFileAfterFlushingItAndThenTheFolder) {
    QTemporaryDir dir;
    const QString path = QFileInfo(dir.filePath(QStringLiteral("Song.mp3"))).absoluteFilePath();
    TestFiles::writeFile(path, "old contents");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    {
        std::lock_guard lock(syncedMutex);
        syncedPaths.clear();
    }
    UniversalTagWriter::atomicWrite("new contents, longer than before", path);
    EXPECT_EQ(TestFiles::readFile(path), QByteArray("new contents, longer than before"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
    std::lock_guard lock(syncedMutex);
    const QString folder = QFileInfo(path).canonicalPath();
    ASSERT_EQ(syncedPaths.size(), 2) << syncedPaths.join(' ').toStdString();
    // The temporary file is flushed before it has a name (or under its hidden name where it cannot be
    // unnamed).
    EXPECT_TRUE(
        syncedPaths[0].startsWith(folder + QStringLiteral("/.Song.mp3.tmp-")) ||
        (syncedPaths[0].startsWith(folder + QLatin1Char('/')) && syncedPaths[0].endsWith(" (deleted)")))
        << syncedPaths[0].toStdString();
    EXPECT_EQ(syncedPaths[1], folder);
}

TEST(AtomicWrite, KeepsLinksOwnersAndLongNames) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("real"));
    QDir(dir.path()).mkpath(QStringLiteral("links"));
    const QString real = dir.filePath(QStringLiteral("real/track.mp3"));
    const QString link = dir.filePath(QStringLiteral("links/track.mp3"));
    TestFiles::writeFile(real, "before");
    ASSERT_TRUE(QFile::link(real, link));
    UniversalTagWriter::atomicWrite("after", link);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(TestFiles::readFile(real), QByteArray("after"));
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.filePath(QStringLiteral("real"))).isEmpty());

    const QString longName =
        dir.filePath(QString(246, QLatin1Char('n')) + QStringLiteral(".mp3")); // 250 bytes
    TestFiles::writeFile(longName, "old");
    UniversalTagWriter::atomicWrite("new", longName);
    EXPECT_EQ(TestFiles::readFile(longName), QByteArray("new"));
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());

    if (::geteuid() == 0) { // changing a file's owner needs root
        ASSERT_EQ(::chown(QFile::encodeName(real).constData(), 4321, 4322), 0);
        UniversalTagWriter::atomicWrite("y", real);
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &st), 0);
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
    }
}

TEST(AtomicWrite, RefusesWhenTheFileWasDeletedOrChangedSinceLoading) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.mp3"));
    const QString other = dir.filePath(QStringLiteral("other"));
    const struct {
        const char* name;
        std::function<void()> change;
        const char* left; // the file afterwards ("" when gone)
    } cases[] = {
        {"deleted", [&] { QFile::remove(path); }, ""},
        {"changed in place", [&] { TestFiles::writeFile(path, "someone else's longer edit"); },
         "someone else's longer edit"},
        {"replaced by a file of the same size",
         [&] {
             TestFiles::writeFile(other, "loaded");
             ::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData());
         },
         "loaded"},
        {"unchanged", [] {}, "mine"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestFiles::writeFile(path, "loaded");
        const UniversalTagWriter::LoadedFile loaded = UniversalTagWriter::loadFile(path);
        c.change();
        const auto write = [&] {
            UniversalTagWriter::atomicWrite("mine", path, loaded.stamp);
        };
        if (QLatin1String(c.left) == QLatin1String("mine")) {
            write();
        } else {
            expectThrows(AppError::Kind::tagWriteFailed, write);
        }
        EXPECT_EQ(QFileInfo::exists(path) ? TestFiles::readFile(path) : QByteArray(), QByteArray(c.left));
        EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
    }
}

// As root, which ignores folder permissions, on a small tmpfs (needs CAP_SYS_ADMIN).
TEST(AtomicWrite, ReadOnlyFolderOrFullDiskLeavesTheTargetAndNoTemporaryFile) {
    for (const bool full : {false, true}) {
        SCOPED_TRACE(full);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("target"));
        const QByteArray native = QFile::encodeName(folder);
        QDir().mkpath(folder);
        const bool root = ::geteuid() == 0;
        if (root && ::mount("tmpfs", native.constData(), "tmpfs", 0, full ? "size=64k" : "size=256k") != 0) {
            GTEST_SKIP() << "running as root without permission to mount a tmpfs";
        } else if (!root && full) {
            GTEST_SKIP() << "a full disk is simulated with a small tmpfs, which needs root";
        }
        const auto unmount = [](const char* mounted) {
            ::umount2(mounted, MNT_DETACH);
        };
        const std::unique_ptr<const char, decltype(unmount)> mounted(root ? native.constData() : nullptr,
                                                                     unmount);
        const QString path = folder + QStringLiteral("/song.flac");
        const QByteArray original(16 * 1024, 'o');
        TestFiles::writeFile(path, original);
        if (full) {
            TestFiles::writeFile(folder + QStringLiteral("/filler"), QByteArray(40 * 1024, 'f'));
        } else if (root) {
            ASSERT_EQ(::mount(nullptr, native.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        } else {
            ASSERT_EQ(::chmod(native.constData(), 0555), 0);
        }
        expectThrows(AppError::Kind::tagWriteFailed,
                     [&] { UniversalTagWriter::atomicWrite(QByteArray(32 * 1024, 'n'), path); });
        ::chmod(native.constData(), 0755);
        EXPECT_EQ(TestFiles::readFile(path), original);
        EXPECT_TRUE(TagProbe::temporaryFiles(folder).isEmpty());
    }
}
