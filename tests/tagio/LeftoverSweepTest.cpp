#include "tagio/LeftoverSweep.h"
#include "model/FileIdentity.h"

#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

// Where every writer is on this machine a lock decides at once whether a leftover belongs to a
// live write; elsewhere it waits a day. FUSE tells its kinds apart only by the device number:
// a block device's major for fuseblk, 0 for a FUSE mount served by a program (sshfs).
TEST(LeftoverSweepTest, EachFileSystemKindDecidesLocksAndInodeNumbers) {
    const struct {
        const char* name;
        std::uint32_t magic, deviceMajor;
        bool locksTell, inodesKept;
    } cases[] = {
        {"ext4", EXT4_SUPER_MAGIC, 8, true, true},
        {"btrfs (anonymous device numbers)", BTRFS_SUPER_MAGIC, 0, true, true},
        {"tmpfs", TMPFS_MAGIC, 0, true, true},
        {"vfat", MSDOS_SUPER_MAGIC, 8, true, false},
        {"exfat", EXFAT_SUPER_MAGIC, 8, true, false},
        {"ntfs3", 0x7366746e, 8, true, true},
        {"fuseblk (ntfs-3g, exfat-fuse)", FUSE_SUPER_MAGIC, 8, true, true},
        {"fuseblk on a loop device", FUSE_SUPER_MAGIC, 7, true, true},
        {"fuse (sshfs)", FUSE_SUPER_MAGIC, 0, false, true},
        {"nfs", NFS_SUPER_MAGIC, 0, false, true},
        {"cifs", CIFS_SUPER_MAGIC, 0, false, false},
        {"smb2", SMB2_SUPER_MAGIC, 0, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FileSystemKind kind{c.magic, c.deviceMajor};
        EXPECT_EQ(LeftoverSweep::locksReachEveryWriter(kind), c.locksTell);
        EXPECT_EQ(FileIdentity::keepsInodeNumbers(kind), c.inodesKept);
    }
}

// Whether a leftover is open is told by each descriptor's link text and fdinfo (mount and inode
// number), never by following its link, which would reach the file system of every open file on
// the machine (a stalled network mount stalls the write). Here a fake /proc whose links point at
// the leftover itself unless a row names another text; for a link naming it (or a removed name,
// or any link of a file with two names) its fdinfo decides. An inode number through another
// mount counts unless the mount table shows the two mounts on two file systems.
TEST(LeftoverSweepTest, TellsOpenFilesByFdinfoWithoutFollowingTheLinks) {
    QTemporaryDir dir;
    const QString leftover =
        dir.filePath(".a.mp3.tmp-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    TestFiles::writeFile(leftover, "leftover");
    const int own = ::open(QFile::encodeName(leftover).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(own, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(own, &st), 0);
    const QByteArray ino = QByteArray::number(quint64(st.st_ino));
    const QByteArray other = QByteArray::number(quint64(st.st_ino) + 1);
    const auto fdinfo = [](const QByteArray& mount, const QByteArray& inode) {
        return "pos:\t0\nflags:\t0100000\nmnt_id:\t" + mount + "\nino:\t" + inode + "\n";
    };
    const QByteArray self = QByteArray::number(::getpid());
    const struct {
        const char* name;
        QByteArray process, info; // a descriptor (3, or ours) of `process` and its fdinfo
        bool open;
        QByteArray link = {};   // the text of the descriptor's link: a link to the leftover when empty
        bool twoNames = false;  // the leftover has a second name
        bool ownNumber = false; // the descriptor has the number of ours (in another process)
    } cases[] = {
        {"another file, its link to the leftover", "4242", fdinfo("50", other), false},
        {"the leftover", "4242", fdinfo("50", ino), true},
        {"the leftover through a bind mount", "4242", fdinfo("51", ino), true},
        {"its inode number on another file system", "4242", fdinfo("52", ino), false},
        {"its inode number through a mount we cannot see", "4242", fdinfo("53", ino), true},
        {"an fdinfo without an inode number", "4242", "pos:\t0\nflags:\t0100000\nmnt_id:\t50\n", true},
        {"only our own descriptor", self, fdinfo("50", ino), false},
        {"no /proc", {}, {}, true},
        {"a link naming another file", "4242", fdinfo("50", ino), false, "/music/b.mp3"},
        {"a link to a name since removed", "4242", fdinfo("50", ino), true, "/music/#77 (deleted)"},
        {"its second name", "4242", fdinfo("50", ino), true, "/music/b.mp3", true},
        {"another process's descriptor of our number", "4242", fdinfo("50", ino), true, {}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir proc;
        const QDir root(proc.path());
        const QByteArray descriptor =
            c.process == self || c.ownNumber ? QByteArray::number(own) : QByteArrayLiteral("3");
        if (!c.process.isEmpty()) {
            for (const QByteArray& folder :
                 {QByteArray("self/fdinfo"), c.process + "/fd", c.process + "/fdinfo"}) {
                ASSERT_TRUE(root.mkpath(folder));
            }
            TestFiles::writeFile(root.filePath("self/fdinfo/" + QByteArray::number(own)), fdinfo("50", ino));
            TestFiles::writeFile(root.filePath("self/mountinfo"),
                                 "50 1 8:1 / /music rw - ext4 /dev/sda1 rw\n51 1 8:1 /music /mnt rw - ext4 "
                                 "/dev/sda1 rw\n52 1 0:61 / /net rw - fuse.sshfs host: rw\n");
            ASSERT_TRUE(QFile::link(c.link.isEmpty() ? leftover : QString::fromUtf8(c.link),
                                    root.filePath(c.process + "/fd/" + descriptor)));
            TestFiles::writeFile(root.filePath(c.process + "/fdinfo/" + descriptor), c.info);
        }
        const QString at = c.process.isEmpty() ? root.filePath("none") : proc.path();
        const QString second = dir.filePath("b.mp3");
        ASSERT_TRUE(!c.twoNames || ::link(QFile::encodeName(leftover), QFile::encodeName(second)) == 0);
        EXPECT_EQ(LeftoverSweep::isOpenByAnyProcess(own, QFile::encodeName(QFileInfo(leftover).fileName()),
                                                    QFile::encodeName(at)),
                  c.open);
        QFile::remove(second);
    }
    ::close(own);
}

// The kind taken from an open folder (and from a path) carries its device's major number, which
// tells fuseblk from a FUSE mount served by a program: as FUSE, a folder on a block device would
// count as local and one without (sshfs has an anonymous device, major 0) never.
TEST(LeftoverSweepTest, TheKindOfAFolderCarriesItsDeviceMajor) {
    QTemporaryDir dir;
    bool blockDevice = false;
    for (const QString& folder : {dir.path(), QStringLiteral("/proc")}) {
        SCOPED_TRACE(folder.toStdString());
        const QByteArray native = QFile::encodeName(folder);
        const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        struct stat st {};
        struct statfs fileSystem {};
        ASSERT_EQ(::fstat(fd, &st), 0);
        ASSERT_EQ(::fstatfs(fd, &fileSystem), 0);
        const std::optional<FileSystemKind> kind = FileSystemKind::of(fd);
        const std::optional<FileSystemKind> byPath = FileSystemKind::ofPath(native);
        ::close(fd);
        ASSERT_TRUE(kind && byPath);
        EXPECT_EQ(std::pair(kind->magic, kind->deviceMajor),
                  std::pair(std::uint32_t(fileSystem.f_type), major(st.st_dev)));
        EXPECT_EQ(std::pair(byPath->magic, byPath->deviceMajor), std::pair(kind->magic, kind->deviceMajor));
        EXPECT_EQ(LeftoverSweep::locksReachEveryWriter({FUSE_SUPER_MAGIC, kind->deviceMajor}),
                  major(st.st_dev) != 0);
        blockDevice = blockDevice || major(st.st_dev) != 0;
    }
    if (!blockDevice) {
        GTEST_SKIP() << "the temporary folder is on no block device";
    }
}

// A sweep closes every descriptor it opened, whatever it finds: a leftover it removes, one another
// descriptor holds open, one a live write holds locked. Each leaked one would stay for the
// program's life, one per write, until no file can be opened.
TEST(LeftoverSweepTest, ASweepLeavesNoDescriptorOpen) {
    QTemporaryDir dir;
    QStringList leftovers; // removed, held open, locked
    for (int i = 0; i < 3; ++i) {
        leftovers << dir.filePath(".a.mp3.tmp-" +
                                  QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
        TestFiles::writeFile(leftovers.last(), "leftover");
    }
    const QByteArray removed = QFile::encodeName(leftovers[0]);
    const timespec dayOld[2] = {{::time(nullptr) - 2 * LeftoverSweep::ageSeconds, 0},
                                {::time(nullptr) - 2 * LeftoverSweep::ageSeconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, removed.constData(), dayOld, 0), 0); // removed where locks cannot tell
    const int held = ::open(QFile::encodeName(leftovers[1]).constData(), O_RDONLY | O_CLOEXEC);
    const int locked = ::open(QFile::encodeName(leftovers[2]).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_TRUE(held >= 0 && locked >= 0 && ::flock(locked, LOCK_EX | LOCK_NB) == 0);
    const qsizetype before = TestFiles::openDescriptors();
    LeftoverSweep::run(QFile::encodeName(dir.path()));
    EXPECT_EQ(TestFiles::openDescriptors(), before);
    EXPECT_EQ(std::count_if(leftovers.begin(), leftovers.end(),
                            [](const QString& f) { return QFileInfo::exists(f); }),
              2);
    ::close(held);
    ::close(locked);
}
