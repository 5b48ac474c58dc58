#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <chrono>
#include <functional>

struct FileSystemKind;

// Removes the hidden temporary files that killed writes of this user left in
// a folder (TemporaryFile::name with an upper-case uuid, of any file of the
// folder). Such a file is a leftover when it is a regular file of the user who
// writes, no process has it open and either no process holds its lock (a
// write locks its temporary file while it has a name) or, where a lock cannot
// tell (see locksReachEveryWriter, no locks), it is older than any write could
// take (its last change counts); only such files are emptied and removed,
// nothing else (another user's file stays, whatever its name).
//
// Thread-safe: sweeps of one process take turns. Best effort: a leftover
// that cannot be looked at or removed costs only disk space, so failures are
// passed over. The names that look like leftovers are kept from one read of a
// folder to the next: a folder is read again only when it changed since, and
// no sooner after its last read than 50 times that read took, so that reading
// a folder of tens of thousands of files stays within 2% of the writes' time.
// Whether some process has a file open is learnt from /proc without reaching
// any other file's file system (a stalled network mount must not stall a
// write); processes whose open files this one may not see (another user's)
// are passed over, and without /proc nothing is removed.
class LeftoverSweep {
public:
    // Removes the leftovers in `folder` (a resolved path).
    static void run(const QByteArray& folder);

    // Whether a lock on a file of this kind of file system is seen by every
    // process that may write there: on local file systems. On a network file
    // system (or FUSE served from elsewhere) a writer on another machine may
    // hold a lock this machine never sees.
    static bool locksReachEveryWriter(const FileSystemKind& fileSystem);

    // Whether some process has open the file that our descriptor `own` is open
    // on, by the name `name` in its folder, through any descriptor but `own`,
    // by what `processes` (/proc) says of each open file without asking the
    // file's file system: the name its link holds, then its mount and inode
    // number (fdinfo). The same inode number through another mount counts
    // unless both mounts are ours to see and of two file systems. True when it
    // cannot be told.
    static bool isOpenByAnyProcess(int own, const QByteArray& name,
                                   const QByteArray& processes = QByteArrayLiteral("/proc"));

    static constexpr qint64 ageSeconds = 24 * 60 * 60;

    // The clock that spaces a folder's reads (steady_clock's unless set; a
    // test moves it on). An empty one restores steady_clock's.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static void setClock(Clock clock);
};
