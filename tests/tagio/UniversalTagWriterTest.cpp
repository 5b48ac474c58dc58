#include "tagio/UniversalTagWriter.h"

#include "QtPrinters.h"
#include "TagProbe.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/AppError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

AppError::Kind kindOf(const std::function<void()>& action) {
    return expectThrows(std::nullopt, action).value_or(AppError::cancelled()).kind();
}

// Every file this process flushes with fsync, by the path of its descriptor.
std::mutex syncedMutex;
QStringList syncedPaths;

} // namespace

// Stands in for the C library's fsync in this test program: records the path,
// then flushes for real.
extern "C" int fsync(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    {
        std::lock_guard lock(syncedMutex);
        syncedPaths.append(n > 0 ? QString::fromLocal8Bit(target, int(n)) : QString());
    }
    using Real = int (*)(int);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

namespace {

// A small tmpfs mounted over a folder, for failures a normal folder cannot
// show to root (read-only file system, full disk). Needs CAP_SYS_ADMIN.
class ScratchMount {
public:
    explicit ScratchMount(const QString& folder, const char* options) : m_folder(QFile::encodeName(folder)) {
        QDir().mkpath(folder);
        m_mounted = ::mount("tmpfs", m_folder.constData(), "tmpfs", 0, options) == 0;
    }
    ~ScratchMount() {
        if (m_mounted) {
            ::umount2(m_folder.constData(), MNT_DETACH);
        }
    }
    bool mounted() const { return m_mounted; }
    bool remountReadOnly() {
        return ::mount(nullptr, m_folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QByteArray m_folder;
    bool m_mounted = false;
};

} // namespace

// ---- atomicWrite ------------------------------------------------------------

TEST(AtomicWrite, ReplacesTheFileAndKeepsItsPermissions) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Song.flac"));
    TestFiles::writeFile(path, "old contents");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);

    UniversalTagWriter::atomicWrite("new contents, longer than before", path);

    EXPECT_EQ(TestFiles::readFile(path), QByteArray("new contents, longer than before"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
}

// The new bytes reach the disk before the rename makes them the file, and the
// folder entry after it: a power cut leaves the old file or the new, never an
// empty one.
TEST(AtomicWrite, FlushesTheTemporaryFileAndTheFolder) {
    QTemporaryDir dir;
    const QString path = QFileInfo(dir.filePath(QStringLiteral("Song.mp3"))).absoluteFilePath();
    TestFiles::writeFile(path, "old");
    {
        std::lock_guard lock(syncedMutex);
        syncedPaths.clear();
    }
    UniversalTagWriter::atomicWrite("new", path);
    std::lock_guard lock(syncedMutex);
    const QString folder = QFileInfo(path).canonicalPath();
    ASSERT_EQ(syncedPaths.size(), 2) << syncedPaths.join(' ').toStdString();
    // The temporary file is flushed before it has a name (under its hidden name where it cannot be unnamed).
    EXPECT_TRUE(
        syncedPaths[0].startsWith(folder + QStringLiteral("/.Song.mp3.tmp-")) ||
        (syncedPaths[0].startsWith(folder + QLatin1Char('/')) && syncedPaths[0].endsWith(" (deleted)")))
        << syncedPaths[0].toStdString();
    EXPECT_EQ(syncedPaths[1], folder);
}

TEST(AtomicWrite, KeepsTheOwnerWhereAllowed) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "changing a file's owner needs root";
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("owned.mp3"));
    TestFiles::writeFile(path, "x");
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 4321, 4322), 0);

    UniversalTagWriter::atomicWrite("y", path);

    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
}

TEST(AtomicWrite, FollowsASymbolicLinkAndReplacesTheRealFile) {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("real"));
    QDir(dir.path()).mkdir(QStringLiteral("links"));
    const QString real = dir.filePath(QStringLiteral("real/track.mp3"));
    const QString link = dir.filePath(QStringLiteral("links/track.mp3"));
    TestFiles::writeFile(real, "before");
    ASSERT_TRUE(QFile::link(real, link));

    UniversalTagWriter::atomicWrite("after", link);

    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(TestFiles::readFile(real), QByteArray("after"));
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.filePath(QStringLiteral("real"))).isEmpty());
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.filePath(QStringLiteral("links"))).isEmpty());
}

TEST(AtomicWrite, WritesAFileWhoseNameIsNearTheLimit) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QString(246, QLatin1Char('n')) + QStringLiteral(".mp3")); // 250 bytes
    TestFiles::writeFile(path, "old");
    UniversalTagWriter::atomicWrite("new", path);
    EXPECT_EQ(TestFiles::readFile(path), QByteArray("new"));
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
}

TEST(AtomicWrite, RefusesWhenTheFileWasDeletedOrChangedSinceLoading) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.mp3"));

    // Deleted: the file must not come back.
    TestFiles::writeFile(path, "loaded");
    UniversalTagWriter::LoadedFile loaded = UniversalTagWriter::loadFile(path);
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_EQ(kindOf([&] { UniversalTagWriter::atomicWrite("mine", path, loaded.stamp); }),
              AppError::Kind::tagWriteFailed);
    EXPECT_FALSE(QFileInfo::exists(path));

    // Changed in place: the other program's bytes stay.
    TestFiles::writeFile(path, "loaded");
    loaded = UniversalTagWriter::loadFile(path);
    TestFiles::writeFile(path, "someone else's longer edit");
    EXPECT_EQ(kindOf([&] { UniversalTagWriter::atomicWrite("mine", path, loaded.stamp); }),
              AppError::Kind::tagWriteFailed);
    EXPECT_EQ(TestFiles::readFile(path), QByteArray("someone else's longer edit"));

    // Replaced by another file of the same size: a different inode.
    loaded = UniversalTagWriter::loadFile(path);
    const QString other = dir.filePath(QStringLiteral("other"));
    TestFiles::writeFile(other, "someone else's other edit!");
    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
    EXPECT_EQ(kindOf([&] { UniversalTagWriter::atomicWrite("mine", path, loaded.stamp); }),
              AppError::Kind::tagWriteFailed);
    EXPECT_EQ(TestFiles::readFile(path), QByteArray("someone else's other edit!"));

    // Unchanged: the write goes through.
    loaded = UniversalTagWriter::loadFile(path);
    UniversalTagWriter::atomicWrite("mine", path, loaded.stamp);
    EXPECT_EQ(TestFiles::readFile(path), QByteArray("mine"));
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
}

TEST(AtomicWrite, ReadOnlyFolderLeavesTheTargetAndNoTemporaryFile) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("ro"));
    std::unique_ptr<ScratchMount> mount;
    if (::geteuid() == 0) {
        // Root ignores folder permissions; a read-only file system stops it.
        mount = std::make_unique<ScratchMount>(folder, "size=256k");
        if (!mount->mounted()) {
            GTEST_SKIP() << "running as root without permission to mount a tmpfs";
        }
    } else {
        QDir().mkpath(folder);
    }
    const QString path = folder + QStringLiteral("/song.mp3");
    TestFiles::writeFile(path, "original");
    if (mount) {
        ASSERT_TRUE(mount->remountReadOnly());
    } else {
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    }

    const AppError::Kind kind = kindOf([&] { UniversalTagWriter::atomicWrite("replacement", path); });

    if (!mount) {
        ::chmod(QFile::encodeName(folder).constData(), 0755);
    }
    EXPECT_EQ(kind, AppError::Kind::tagWriteFailed);
    EXPECT_EQ(TestFiles::readFile(path), QByteArray("original"));
    EXPECT_TRUE(TagProbe::temporaryFiles(folder).isEmpty());
}

TEST(AtomicWrite, FullDiskLeavesTheTargetAndNoTemporaryFile) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a full disk is simulated with a small tmpfs, which needs root";
    }
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("small"));
    ScratchMount mount(folder, "size=64k");
    if (!mount.mounted()) {
        GTEST_SKIP() << "no permission to mount a tmpfs";
    }
    const QString path = folder + QStringLiteral("/song.flac");
    const QByteArray original(16 * 1024, 'o');
    TestFiles::writeFile(path, original);
    // Leave a little room, but less than the new image needs.
    const QByteArray filler(40 * 1024, 'f');
    QFile fill(folder + QStringLiteral("/filler"));
    ASSERT_TRUE(fill.open(QIODevice::WriteOnly));
    fill.write(filler);
    fill.close();

    EXPECT_EQ(kindOf([&] { UniversalTagWriter::atomicWrite(QByteArray(32 * 1024, 'n'), path); }),
              AppError::Kind::tagWriteFailed);
    EXPECT_EQ(TestFiles::readFile(path), original);
    EXPECT_TRUE(TagProbe::temporaryFiles(folder).isEmpty());
}

// ---- UniversalTagWriter ---------------------------------------------------

TEST(UniversalTagWriter, RefusedFormatsAreNeverTouched) {
    QTemporaryDir dir;
    UniversalTagWriter writer;
    for (const char* name : {"tagged.ogg", "tagged.opus", "tagged.wma"}) {
        SCOPED_TRACE(name);
        const QString path = TestFiles::copyFixture(QStringLiteral("scan/") + QLatin1String(name), dir);
        const QByteArray before = TestFiles::readFile(path);
        const AudioFormat format = audioFormatForPath(path);
        EXPECT_EQ(kindOf([&] { writer.writeGenre("House", 1990, std::nullopt, std::nullopt, path, format); }),
                  AppError::Kind::unsupportedFormat);
        EXPECT_EQ(kindOf([&] { writer.readGenre(path, format); }), AppError::Kind::unsupportedFormat);
        EXPECT_EQ(TestFiles::readFile(path), before);
    }
    EXPECT_EQ(kindOf([&] {
                  writer.writeGenre("x", std::nullopt, std::nullopt, std::nullopt, dir.filePath("x"),
                                    AudioFormat::unknown);
              }),
              AppError::Kind::unsupportedFormat);
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
}

TEST(UniversalTagWriter, BrokenInputFailsWithTheTargetIntact) {
    QTemporaryDir dir;
    UniversalTagWriter writer;

    // A missing file.
    EXPECT_EQ(kindOf([&] {
                  writer.writeGenre("House", 1990, std::nullopt, std::nullopt, dir.filePath("gone.mp3"),
                                    AudioFormat::mp3);
              }),
              AppError::Kind::tagWriteFailed);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("gone.mp3")));

    // A FLAC file that begins with an ID3 tag: the handler's read error passes through unchanged.
    const QString flac = TestFiles::copyFixture("flac/id3front.flac", dir);
    const QByteArray flacBefore = TestFiles::readFile(flac);
    EXPECT_EQ(kindOf([&] {
                  writer.writeGenre("House", 1990, std::nullopt, std::nullopt, flac, AudioFormat::flac);
              }),
              AppError::Kind::tagReadFailed);
    EXPECT_EQ(TestFiles::readFile(flac), flacBefore);

    // A raw ADTS stream named .aac has no MP4 atoms to carry items.
    const QString adts = TestFiles::copyFixture("scan/tagged.aac", dir);
    const QByteArray adtsBefore = TestFiles::readFile(adts);
    EXPECT_EQ(
        kindOf([&] { writer.writeGenre("House", 1990, std::nullopt, std::nullopt, adts, AudioFormat::aac); }),
        AppError::Kind::tagWriteFailed);
    EXPECT_EQ(TestFiles::readFile(adts), adtsBefore);

    EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
}
