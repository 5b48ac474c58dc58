#include "model/FileIdentity.h"
#include "tagio/LeftoverSweep.h"

#include <gtest/gtest.h>

#include <linux/magic.h>

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
