#include "tagio/UniversalTagWriter.h"
#include "tagio/ByteSource.h"
#include "tagio/FilePieces.h"
#include "tagio/LeftoverSweep.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/id3/ID3v2Handler.h"

#include "AppliedPieces.h"
#include "ConsoleCapture.h"
#include "Id3Bytes.h"
#include "LogCapture.h"
#include "QtPrinters.h"
#include "ScopedSeam.h"
#include "TagProbe.h"
#include "TestFiles.h"
#include "TestHelpers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <grp.h>
#include <linux/magic.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

using Id3Bytes::le32;

namespace {

std::mutex syncedMutex;
QStringList syncedPaths; // every file flushed with fsync, by the path of its descriptor

using Kind = UniversalTagWriter::TemporaryKind;

const QString newGenre = QStringLiteral("House 80er");

// Everything in the folder, hidden files included.
QString folderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).join(QLatin1Char(' '));
}

} // namespace

// Set by a test: run by the next fsync (a write paused with its temporary file complete).
std::function<void()> atFsync;

// Stands in for the C library's fsync in this test program: records the path, then flushes.
extern "C" int fsync(int fd) {
    if (atFsync) {
        std::exchange(atFsync, nullptr)();
    }
    char target[4096];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
    {
        std::lock_guard lock(syncedMutex);
        syncedPaths.append(n > 0 ? QString::fromLocal8Bit(target, int(n)) : QString());
    }
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

void clearSyncedPaths() {
    std::lock_guard lock(syncedMutex);
    syncedPaths.clear();
}

// Set by a test: run by the next linkat (another program acting while the temporary file
// gets its name), and a system without /proc (names through /proc/self/fd do not exist).
std::function<void()> atLinkat;
bool noProc = false;

extern "C" int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
    if (atLinkat) {
        std::exchange(atLinkat, nullptr)();
    }
    if (noProc && std::strncmp(from, "/proc/self/fd/", 14) == 0) {
        errno = ENOENT;
        return -1;
    }
    static const auto real =
        reinterpret_cast<int (*)(int, const char*, int, const char*, int)>(::dlsym(RTLD_NEXT, "linkat"));
    return real(fromFolder, from, toFolder, to, flags);
}

extern "C" int access(const char* path, int mode) {
    if (noProc && std::strncmp(path, "/proc/self/fd/", 14) == 0) {
        errno = ENOENT;
        return -1;
    }
    static const auto real = reinterpret_cast<int (*)(const char*, int)>(::dlsym(RTLD_NEXT, "access"));
    return real(path, mode);
}

// Set by a test: the errno of every flock (0: the real call), and whether the open files of
// processes are hidden (as those of another user's processes are).
int flockErrno = 0;
bool openFilesHidden = false;

extern "C" DIR* opendir(const char* path) {
    if (openFilesHidden && std::strncmp(path, "/proc/", 6) == 0 && std::strstr(path, "/fd") != nullptr) {
        errno = EACCES;
        return nullptr;
    }
    static const auto real = reinterpret_cast<DIR* (*)(const char*)>(::dlsym(RTLD_NEXT, "opendir"));
    return real(path);
}

extern "C" int flock(int fd, int operation) {
    if (flockErrno != 0) {
        errno = flockErrno;
        return -1;
    }
    static const auto real = reinterpret_cast<int (*)(int, int)>(::dlsym(RTLD_NEXT, "flock"));
    return real(fd, operation);
}

// Set by a test: the errno with which the removal of a temporary file that holds data fails (0:
// the real call), as a full ntfs-3g refuses one.
int temporaryUnlinkErrno = 0;

extern "C" int unlinkat(int folder, const char* path, int flags) {
    struct stat st {};
    if (temporaryUnlinkErrno != 0 && std::strstr(path, ".tmp-") != nullptr &&
        ::fstatat(folder, path, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_size > 0) {
        errno = temporaryUnlinkErrno;
        return -1;
    }
    static const auto real = reinterpret_cast<int (*)(int, const char*, int)>(::dlsym(RTLD_NEXT, "unlinkat"));
    return real(folder, path, flags);
}

extern "C" int unlink(const char* path) {
    return unlinkat(AT_FDCWD, path, 0);
}

// Set by a test: stands in for every rename, given the real one (a network file system whose
// answer is lost, another program that links the file the moment before).
using RenameCall = int (*)(const char*, const char*);
std::function<int(RenameCall real, const char* from, const char* to)> renameStandIn;

extern "C" int rename(const char* from, const char* to) {
    static const auto real = reinterpret_cast<RenameCall>(::dlsym(RTLD_NEXT, "rename"));
    return renameStandIn ? renameStandIn(real, from, to) : real(from, to);
}

// Set by a test: the file-system magic every fstatfs reports (0: the real one).
std::uint32_t fileSystemMagic = 0;

extern "C" int fstatfs(int fd, struct statfs* fileSystem) {
    static const auto real = reinterpret_cast<int (*)(int, struct statfs*)>(::dlsym(RTLD_NEXT, "fstatfs"));
    const int result = real(fd, fileSystem);
    if (result == 0 && fileSystemMagic != 0) {
        fileSystem->f_type = fileSystemMagic;
    }
    return result;
}

// Puts a file of the same contents, size and times as `path` in its place: another file that
// only its inode number tells apart (as a file of FAT looks after a remount).
void replaceByACopy(const QString& path, const QString& other) {
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    TestFiles::writeFile(other, TestFiles::readFile(path));
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(other).constData(), times, 0), 0);
    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
}

// Runs `check` in a child process killed after 5 s; true when it returned true in time.
bool passesInChild(const std::function<bool()>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(5);
        bool passed = false;
        try {
            passed = check();
        } catch (...) {
        }
        ::_exit(passed ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The new bytes reach the disk before the rename makes them the file, and the
// folder entry after it: a power cut leaves the old file or the new one.
TEST(UniversalTagWriterTest, ReplacesTheFileAfterFlushingItAndThenTheFolder) {
    QTemporaryDir dir;
    const QString path = QFileInfo(dir.filePath(QStringLiteral("Song.mp3"))).absoluteFilePath();
    TestFiles::writeFile(path, "old contents");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    clearSyncedPaths();
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

TEST(UniversalTagWriterTest, KeepsLinksAndLongNames) {
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
}

TEST(UniversalTagWriterTest, RefusesWhenTheFileWasDeletedOrChangedSinceLoading) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.mp3"));
    const QString other = dir.filePath(QStringLiteral("other"));
    const auto copied = [&] {
        replaceByACopy(path, other);
    };
    const struct {
        const char* name;
        std::function<void()> change;
        const char* left;       // the file afterwards ("" when gone)
        bool inodesKept = true; // false: on FAT, where the stamp's inode number tells nothing
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
        {"replaced by a copy of the same size and times", copied, "loaded"},
        {"the same where inode numbers are made up", copied, "mine", false},
        {"unchanged", [] {}, "mine"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestFiles::writeFile(path, "loaded");
        const UniversalTagWriter::LoadedFile loaded = [&] {
            const ScopedSeam magic(fileSystemMagic, c.inodesKept ? 0 : MSDOS_SUPER_MAGIC);
            return UniversalTagWriter::loadFile(path);
        }();
        EXPECT_EQ(loaded.stamp.inodeKept, c.inodesKept);
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

// The identity a write returns (the one an undo hands back) compares inode numbers only where
// the file system keeps them: on FAT the written file under a new inode number is still the file
// the undo may write; elsewhere it is another file and refused.
TEST(UniversalTagWriterTest, TheReturnedIdentityComparesInodesOnlyWhereTheFileSystemKeepsThem) {
    const struct {
        const char* name;
        std::uint32_t magic;
        bool inodesKept;
    } cases[] = {
        {"ext4", EXT4_SUPER_MAGIC, true},
        {"vfat", MSDOS_SUPER_MAGIC, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = TestFiles::copyFixture(QStringLiteral("scan/tagged.mp3"), dir);
        UniversalTagWriter writer;
        {
            const ScopedSeam magic(fileSystemMagic, c.magic);
            const FileIdentity written = writer.writeGenre(newGenre, 1987, {}, {}, path, AudioFormat::mp3);
            EXPECT_EQ(written.inodeKept, c.inodesKept);
            replaceByACopy(path, dir.filePath(QStringLiteral("copy")));
            try {
                writer.writeGenre(QStringLiteral("Disco"), 1987, {}, {}, path, AudioFormat::mp3, written);
            } catch (const AppError&) {
            }
        }
        EXPECT_EQ(writer.readGenre(path, AudioFormat::mp3),
                  c.inodesKept ? newGenre : QStringLiteral("Disco"));
    }
}

// A file its user may not write, or another user's file, is refused before anything is written;
// the user's own writable file is replaced with its mode, and with the user's group where the
// file's group is not one of the user's; root keeps any owner and group. As root, the other
// writes run as another user (uid 4321) in a child process, in a folder given to that user. A
// fresh, closed file of the file's owner named like a leftover lies beside it: the write removes
// it only when it is the writer's own (it is swept before the temporary file is made, and not at
// all for a read-only file).
struct OwnerRow {
    const char* name;
    mode_t mode;
    int owner, group;    // the writer's own (0) or the next one's (1)
    const char* refusal; // "" when written
    bool leftoverRemoved;
    bool byRoot = false;
};
const OwnerRow ownerRows[] = {
    {"mode 0444", 0444, 0, 0, "The file is read-only", false},
    {"another user's file the user may write", 0666, 1, 1, "The file belongs to another user", false},
    {"another user's group-writable file of the user's group", 0664, 1, 0, "The file belongs to another user",
     false},
    {"the user's own file of another group", 0664, 0, 1, "", true},
    {"the user's own file", 0644, 0, 0, "", true},
    {"another user's file written by root", 0640, 1, 1, "", false, true},
};
using UniversalTagWriterOwnerTest = ::testing::TestWithParam<OwnerRow>;

TEST_P(UniversalTagWriterOwnerTest, RefusesReadOnlyFilesAndForeignOwners) {
    const OwnerRow& c = GetParam();
    const bool root = ::geteuid() == 0;
    if (c.byRoot && !root) {
        GTEST_SKIP() << "writing another user's file needs root";
    }
    QTemporaryDir dir;
    dir.setAutoRemove(false); // the writing user's folder: removed without following a name
    const auto remove = qScopeGuard([&] { TestFiles::removeTree(dir.path()); });
    const uid_t user = root ? 4321 : ::geteuid();
    const gid_t group = root ? 4321 : ::getegid();
    const uid_t owner = user + uid_t(c.owner);
    const gid_t fileGroup = group + gid_t(c.group);
    ASSERT_EQ(::chown(QFile::encodeName(dir.path()).constData(), user, group), 0);
    const QString path = dir.filePath(QStringLiteral("song.mp3"));
    const QByteArray native = QFile::encodeName(path);
    const QString leftover = ".song.mp3.tmp-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    TestFiles::writeFile(path, "old");
    TestFiles::writeFile(dir.filePath(leftover), "leftover");
    const QByteArray leftoverNative = QFile::encodeName(dir.filePath(leftover));
    if (::chown(native.constData(), owner, fileGroup) != 0 ||
        ::chown(leftoverNative.constData(), owner, fileGroup) != 0) {
        GTEST_SKIP() << "giving a file to another user or group needs root";
    }
    ASSERT_EQ(::chmod(native.constData(), c.mode), 0);
    ASSERT_EQ(::chmod(leftoverNative.constData(), 0644), 0); // readable, so that a lock could tell
    EXPECT_TRUE(passesInChild([&] {
        if (root && !c.byRoot &&
            (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 || ::setuid(user) != 0)) {
            return false;
        }
        try {
            UniversalTagWriter::atomicWrite("new", path);
        } catch (const AppError& error) {
            return error.text().endsWith(QLatin1String(c.refusal)) && *c.refusal != 0;
        }
        return *c.refusal == 0;
    }));
    EXPECT_EQ(TestFiles::readFile(path), *c.refusal != 0 ? QByteArray("old") : QByteArray("new"));
    struct stat st {};
    ASSERT_EQ(::stat(native.constData(), &st), 0);
    EXPECT_EQ(std::make_tuple(st.st_uid, st.st_gid, st.st_mode & 07777),
              std::make_tuple(owner, *c.refusal != 0 || c.byRoot ? fileGroup : group, c.mode));
    EXPECT_EQ(TagProbe::temporaryFiles(dir.path()),
              c.leftoverRemoved ? QStringList() : QStringList{leftover});
}
INSTANTIATE_TEST_SUITE_P(, UniversalTagWriterOwnerTest, ::testing::ValuesIn(ownerRows), RowName());

// The handler's step of a write is a console line, that of a FLAC write a debug-log line.
TEST(UniversalTagWriterTest, NamesTheHandlerStepOnTheConsoleOrForFlacInTheDebugLog) {
    QTemporaryDir dir;
    const struct {
        const char* extension; // of the fixture scan/tagged.*
        AudioFormat format;
        QString console, log; // the handler's step ("" when none)
    } cases[] = {
        {"flac", AudioFormat::flac, "", "WRITE|FLAC writeGenre 'House 80er' year=1987 \u2192 tagged.flac"},
        {"mp3", AudioFormat::mp3, "[TagIO] ID3v2Handler.writeGenre 'House 80er' year=1987 -> tagged.mp3", ""},
    };
    for (const auto& c : cases) {
        const QString path = TestFiles::copyFixture(QStringLiteral("scan/tagged.") + c.extension, dir);
        LogCapture log;
        ConsoleCapture console;
        UniversalTagWriter().writeGenre(newGenre, 1987, {}, {}, path, c.format);
        EXPECT_EQ(console.lines().filter("Handler.writeGenre").join('\n'), c.console);
        EXPECT_EQ(log.entries().filter("writeGenre").join('\n'), c.log);
    }
}

// A FIFO at the path fails the reader and the writer at once, and the writer's lock is free for
// the next write.
TEST(UniversalTagWriterTest, AFifoAtThePathFailsAtOnce) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("pipe.mp3"));
    const QString song = TestFiles::copyFixture(QStringLiteral("scan/tagged.mp3"), dir);
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    EXPECT_TRUE(passesInChild([&] {
        UniversalTagWriter writer;
        const auto fails = [](const std::function<void()>& call) {
            try {
                call();
            } catch (const AppError&) {
                return true;
            }
            return false;
        };
        return fails([&] { UniversalTagReader().readTags(fifo); }) &&
               fails([&] { writer.writeGenre(newGenre, 1987, {}, {}, fifo, AudioFormat::mp3); }) &&
               (writer.writeGenre(newGenre, 1987, {}, {}, song, AudioFormat::mp3), true) &&
               writer.readGenre(song, AudioFormat::mp3) == newGenre;
    }));
}

// Another program's change while the temporary file gets its name is found by the last check
// before the rename, also one that keeps the size; without /proc the named temporary file is used
// from the start, so the data is written and flushed once. A temporary file whose removal a full
// disk refuses is emptied, then removed. Every descriptor the write opened is closed, its lock's too.
TEST(UniversalTagWriterTest, ChecksTheFileLastAndFallsBackToANamedFileBeforeWriting) {
    QTemporaryDir dir;
    const QString path = QFileInfo(dir.filePath(QStringLiteral("Song.mp3"))).absoluteFilePath();
    const struct {
        const char* name;
        bool proc;
        QByteArray edit; // another program's, while the temporary file gets its name
        int syncs;
        bool removalRefused = false;
    } cases[] = {
        {"changed while named", true, "someone else's edit", 1},
        {"changed while named, same size", true, "od!", 1},
        {"changed while named, its removal refused", true, "someone else's edit", 1, true},
        {"no /proc", false, "", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestFiles::writeFile(path, "old");
        const QByteArray native = QFile::encodeName(path);
        struct stat before {};
        ASSERT_EQ(::stat(native.constData(), &before), 0);
        clearSyncedPaths();
        bool changed = false;
        {
            const ScopedSeam edit(atLinkat, [&] {
                changed = c.proc;
                if (changed) {
                    TestFiles::writeFile(path, c.edit);
                    const timespec times[2] = {before.st_atim,
                                               {before.st_mtim.tv_sec + 1, before.st_mtim.tv_nsec}};
                    ::utimensat(AT_FDCWD, native.constData(), times, 0);
                }
            });
            const ScopedSeam withoutProc(noProc, !c.proc);
            const ScopedSeam refused(temporaryUnlinkErrno, c.removalRefused ? ENOSPC : 0);
            const qsizetype descriptors = TestFiles::openDescriptors();
            try {
                UniversalTagWriter::atomicWrite("new", path);
            } catch (const AppError&) {
            }
            EXPECT_EQ(TestFiles::openDescriptors(), descriptors);
        }
        if (c.proc && !changed) {
            GTEST_SKIP() << "no unnamed temporary files on this file system";
        }
        EXPECT_EQ(TestFiles::readFile(path), c.proc ? c.edit : QByteArray("new"));
        EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
        std::lock_guard lock(syncedMutex);
        EXPECT_EQ(syncedPaths.size(), c.syncs) << syncedPaths.join(' ').toStdString();
    }
}

// A failed write whose temporary file cannot be removed empties it only where it surely is nothing
// but ours: refused for lack of room, of a single name, not the user's. A rename reported as failed
// may have gone through (a network file system whose answer is lost), with the temporary name still
// leading to the file: the file is the user's then. Each row's rename fails; `left` is what the
// file and every other name hold afterwards.
TEST(UniversalTagWriterTest, AFailedWriteEmptiesOnlyATemporaryFileThatIsSurelyOurs) {
    const struct {
        const char* name;
        int removalErrno;
        std::function<int(RenameCall, const char*, const char*)> rename;
        const char* file;
        QList<qint64> others; // the sizes of the temporary name and a second link
    } cases[] = {
        {"renamed, the name still leads to it, removal refused", EIO,
         [](RenameCall real, const char* from, const char* to) {
             return real(from, to) == 0 && ::link(to, from) == 0 ? (errno = EIO, -1) : -1;
         },
         "new", {3}},
        {"a second link, removal refused for room", ENOSPC,
         [](RenameCall, const char* from, const char* to) {
             return ::link(from, (QByteArray(to) + ".second").constData()) == 0 ? (errno = EIO, -1) : -1;
         },
         "old", {3, 3}},
        {"removal refused for room", ENOSPC,
         [](RenameCall, const char*, const char*) { return errno = EIO, -1; }, "old", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Song.mp3"));
        TestFiles::writeFile(path, "old");
        {
            const ScopedSeam rename(renameStandIn, c.rename);
            const ScopedSeam removal(temporaryUnlinkErrno, c.removalErrno);
            EXPECT_THROW(UniversalTagWriter::atomicWrite("new", path), AppError);
        }
        EXPECT_EQ(TestFiles::readFile(path), QByteArray(c.file));
        QList<qint64> others;
        for (const QFileInfo& other : QDir(dir.path()).entryInfoList(QDir::Files | QDir::Hidden)) {
            if (other.fileName() != QLatin1String("Song.mp3")) {
                others << other.size();
            }
        }
        EXPECT_EQ(others, c.others);
    }
}

// Leftovers of any file in the folder that no process has open are removed by the next write:
// at once where a lock tells that no live write holds them, else once they are a day old; one
// whose removal a full disk refuses is emptied, then removed. A file that stays is never touched,
// nor is a symbolic link or a FIFO named like a leftover.
TEST(UniversalTagWriterTest, RemovesEveryLeftoverNoOneHoldsInTheFolder) {
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const auto another = [] {
        return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    };
    const qint64 hour = 3600;
    const struct {
        QString name;
        qint64 age;
        bool open, removed, removedWithoutLocks;
        char kind = 'f'; // a regular file, a symbolic link ('l', to a file of 8 bytes) or a FIFO ('p')
    } cases[] = {
        {".Song.mp3.tmp-" + uuid.toUpper(), 25 * hour, false, true, true},
        {".Song.mp3.tmp-" + another(), hour, false, true, false},
        {".Song.mp3.tmp-" + another(), 25 * hour, true, false, false},
        {".Song.mp3.tmp-" + uuid, 25 * hour, false, false, false}, // lower case: not our name
        {".Other.mp3.tmp-" + another(), 25 * hour, false, true, true},
        {".Other.mp3.tmp-" + another(), hour, false, true, false},
        {".Other.mp3.tmp-" + another(), 25 * hour, true, false, false},
        {"Other.mp3.tmp-" + another(), 25 * hour, false, false, false}, // not hidden
        {".Other.mp3.tmp-" + another(), 25 * hour, false, false, false, 'l'},
        {".Other.mp3.tmp-" + another(), 25 * hour, false, false, false, 'p'},
    };
    for (const auto& [noLocks, refused] :
         {std::pair(0, false), std::pair(ENOLCK, false), std::pair(0, true)}) {
        SCOPED_TRACE(noLocks != 0 ? "no locks" : refused ? "locks, removal refused" : "locks");
        QTemporaryDir dir;
        std::vector<int> held;
        TestFiles::writeFile(dir.filePath(QStringLiteral("target")), "leftover");
        for (const auto& c : cases) {
            const QByteArray native = QFile::encodeName(dir.filePath(c.name));
            if (c.kind == 'l') {
                ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("target")), dir.filePath(c.name)));
            } else if (c.kind == 'p') {
                ASSERT_EQ(::mkfifo(native.constData(), 0644), 0);
            } else {
                TestFiles::writeFile(dir.filePath(c.name), "leftover");
            }
            const timespec times[2] = {{::time(nullptr) - c.age, 0}, {::time(nullptr) - c.age, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, native.constData(), times, AT_SYMLINK_NOFOLLOW), 0);
            if (c.open) {
                held.push_back(::open(native.constData(), O_RDONLY | O_CLOEXEC));
            }
        }
        const QString path = dir.filePath(QStringLiteral("Song.mp3"));
        TestFiles::writeFile(path, "old");
        {
            const ScopedSeam locks(flockErrno, noLocks);
            const ScopedSeam removal(temporaryUnlinkErrno, refused ? ENOSPC : 0);
            UniversalTagWriter::atomicWrite("new", path);
        }
        for (const auto& c : cases) {
            const bool removed = noLocks != 0 ? c.removedWithoutLocks : c.removed;
            const QFileInfo left(dir.filePath(c.name));
            EXPECT_EQ(left.exists(), !removed) << c.name.toStdString();
            EXPECT_EQ(left.size(), removed || c.kind == 'p' ? 0 : 8) << c.name.toStdString();
        }
        for (const int fd : held) {
            ::close(fd);
        }
    }
}

// A write killed while its temporary file has a name leaves it; the next write in the folder,
// of that file or another, removes it once no live write holds it, also when this process read
// the folder before the kill. Where a lock cannot tell (no locks) a young one stays.
TEST(UniversalTagWriterTest, RemovesTheLeftoverOfAKilledWriteAtTheNextWrite) {
    const struct {
        const char* name;
        bool killed;
        int flockErrno;
        bool openFilesHidden, removed;
        const char* next; // the file the next write writes
    } cases[] = {
        {"killed", true, 0, false, true, "Song.mp3"},
        {"killed, another file written next", true, 0, false, true, "Other.mp3"},
        {"live, its open files hidden", false, 0, true, false, "Song.mp3"},
        {"live, its open files hidden, another file written next", false, 0, true, false, "Other.mp3"},
        {"killed, no locks", true, ENOLCK, false, false, "Other.mp3"},
    };
    // A sweep reads a folder again only once enough time has passed since its last read: moving its
    // clock on makes "the next write" mean that write, however slowly a busy machine ran the test.
    std::chrono::steady_clock::duration ahead{};
    LeftoverSweep::setClock([&ahead] { return std::chrono::steady_clock::now() + ahead; });
    const auto restoreClock = qScopeGuard([] { LeftoverSweep::setClock({}); });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Song.mp3"));
        const QString next = dir.filePath(QString::fromLatin1(c.next));
        TestFiles::writeFile(path, "old");
        TestFiles::writeFile(next, "old");
        UniversalTagWriter::atomicWrite("first", next); // reads the folder before the kill
        const ScopedSeam locks(flockErrno, c.flockErrno);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::alarm(5);
            atFsync = [&] { // the named temporary file is complete: tell, then wait to be killed
                if (::write(ready[1], "x", 1) == 1) {
                    for (;;) {
                        ::pause();
                    }
                }
            };
            FilePieces pieces;
            pieces.append("second");
            UniversalTagWriter::atomicWrite(pieces, nullptr, path, std::nullopt, Kind::named);
            ::_exit(0);
        }
        ::close(ready[1]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the write did not reach its fsync";
        ::close(ready[0]);
        if (c.killed) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        {
            const ScopedSeam hidden(openFilesHidden, c.openFilesHidden);
            ahead += std::chrono::hours(1);
            UniversalTagWriter::atomicWrite("third", next);
        }
        EXPECT_EQ(TestFiles::readFile(next), QByteArray("third"));
        EXPECT_EQ(TagProbe::temporaryFiles(dir.path()).size(), c.removed ? 0 : 1);
        if (!c.killed) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    }
}

using UniversalTagWriterNoRoomTest = ::testing::TestWithParam<bool>;

// As root, which ignores folder permissions, on a small tmpfs (needs CAP_SYS_ADMIN).
TEST_P(UniversalTagWriterNoRoomTest, ReadOnlyFolderOrFullDiskLeavesTheTargetAndNoTemporaryFile) {
    const bool full = GetParam();
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
    const auto reopen = qScopeGuard([&] { ::chmod(native.constData(), 0755); });
    expectThrows(AppError::Kind::tagWriteFailed,
                 [&] { UniversalTagWriter::atomicWrite(QByteArray(32 * 1024, 'n'), path); });
    EXPECT_EQ(TestFiles::readFile(path), original);
    EXPECT_TRUE(TagProbe::temporaryFiles(folder).isEmpty());
}
INSTANTIATE_TEST_SUITE_P(, UniversalTagWriterNoRoomTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "FullDisk" : "ReadOnlyFolder"; });

// A write killed at any moment leaves the old or the new file, and nothing else; a whole
// write of a large file keeps the process's memory flat.
TEST(UniversalTagWriterTest, AKilledWriteLeavesTheOldOrTheNewFileAndNoLeftover) {
    QTemporaryDir dir;
    const qint64 size = qint64(256) << 20;
    struct statvfs fs {};
    if (::statvfs(QFile::encodeName(dir.path()).constData(), &fs) != 0 ||
        qint64(fs.f_bavail) * qint64(fs.f_frsize) < 3 * size) {
        GTEST_SKIP() << "not enough free disk space for a write of a 256 MB file";
    }
    const QString path = dir.filePath(QStringLiteral("mix.wav"));
    // Without an ID3 chunk; the sample data is a hole.
    const QByteArray head = "RIFF" + le32(uint32_t(size - 8)) + "WAVEfmt " + le32(16) +
                            QByteArray::fromHex("0100020044AC000010B1020004001000") + "data" +
                            le32(uint32_t(size - 44));
    const auto write = [&] {
        UniversalTagWriter().writeGenre(newGenre, 1987, {}, {}, path, AudioFormat::wav);
    };
    int old = 0;
    qint64 wholeWriteUs = 0; // measured by the first run, which is not killed
    for (const int percent : {-1, 5, 20, 40, 60, 80, 95}) {
        SCOPED_TRACE(percent);
        ASSERT_TRUE(TestFiles::writeSparse(path, head, size));
        QElapsedTimer timer;
        timer.start();
        if (percent < 0) {
            const long grownKiB = TestFiles::peakGrowthKiB(write);
            wholeWriteUs = timer.nsecsElapsed() / 1000;
            EXPECT_GE(grownKiB, 0);
            EXPECT_LT(grownKiB, 64 * 1024) << "the write grew the process by " << grownKiB / 1024 << " MB";
        } else if (const pid_t child = ::fork(); child == 0) {
            write();
            ::_exit(0);
        } else {
            ASSERT_GT(child, 0);
            ::usleep(useconds_t(wholeWriteUs * percent / 100));
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        EXPECT_EQ(folderEntries(dir.path()), QStringLiteral("mix.wav"));
        const bool unchanged = QFileInfo(path).size() == size;
        EXPECT_TRUE(percent >= 0 || !unchanged);
        EXPECT_EQ(ID3v2Handler::readGenre(path), unchanged ? std::nullopt : std::optional<QString>(newGenre));
        old += unchanged ? 1 : 0;
    }
    EXPECT_GT(old, 0) << "no kill landed before the rename";
}

// Ranges on another file system cannot be copied in the kernel: reads and writes copy them.
// With either kind of temporary file the extended attributes stay and nothing is left behind.
TEST(UniversalTagWriterTest, RangesTheKernelCannotCopyAreCopiedByReadsAndWrites) {
    QTemporaryDir other(QStringLiteral("/dev/shm/velmora-XXXXXX"));
    if (!other.isValid()) {
        GTEST_SKIP() << "no /dev/shm to hold a file on another file system";
    }
    QByteArray original(3 * 1024 * 1024 + 77, '\0');
    for (qsizetype i = 0; i < original.size(); ++i) {
        original[i] = char((i * 7919) >> 5);
    }
    TestFiles::writeFile(other.filePath(QStringLiteral("source")), original);
    FilePieces pieces;
    pieces.append("new head");
    pieces.copy(5, original.size() - 10);
    pieces.append("tail");
    pieces.copy(0, 3);
    const auto source = ByteSource::open(other.filePath(QStringLiteral("source")));
    ASSERT_TRUE(source);
    for (const Kind kind : {Kind::unnamedWhereSupported, Kind::named}) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("target.mp3"));
        const QByteArray native = QFile::encodeName(path);
        TestFiles::writeFile(path, "old");
        const bool xattrs = ::setxattr(native.constData(), "user.velmora.cue", "A1", 2, 0) == 0;
        UniversalTagWriter::atomicWrite(pieces, &*source, path, std::nullopt, kind);
        EXPECT_TRUE(TestFiles::readFile(path) == AppliedPieces::apply(pieces, original));
        EXPECT_EQ(folderEntries(dir.path()), QStringLiteral("target.mp3"));
        char value[8] = {};
        EXPECT_TRUE(!xattrs || ::getxattr(native.constData(), "user.velmora.cue", value, sizeof value) == 2);
        EXPECT_EQ(QByteArray(value), xattrs ? QByteArray("A1") : QByteArray());
    }
}
