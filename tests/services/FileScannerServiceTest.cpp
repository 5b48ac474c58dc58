#include "services/FileScannerService.h"

#include "TestFiles.h"
#include "model/AppError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A folder tree built from the scan fixtures.
class ScanTree {
public:
    ScanTree() { EXPECT_TRUE(m_dir.isValid()); }

    QString root() const { return m_dir.path(); }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    // Copies a fixture to a path below the root, creating folders as needed.
    QString add(const QString& relative, const char* fixture = "untagged.mp3") {
        const QString target = path(relative);
        QDir().mkpath(QFileInfo(target).path());
        QFile::remove(target);
        EXPECT_TRUE(QFile::copy(TestFiles::fixturePath(QStringLiteral("scan/") + QLatin1String(fixture)), target));
        return target;
    }
    void addFolder(const QString& relative) { QDir().mkpath(path(relative)); }

    // Paths of a scan, relative to the root.
    QStringList scanRelative() const {
        QStringList out;
        for (const QString& p : FileScannerService().scanDirectory(root())) {
            out.append(QDir(root()).relativeFilePath(p));
        }
        return out;
    }

private:
    QTemporaryDir m_dir;
};

} // namespace

TEST(FileScannerService, ListsSupportedExtensionsInAnyCase) {
    ScanTree tree;
    const QStringList audio = {"a.mp3", "b.MP3", "c.Flac", "d.m4a", "e.AAC", "f.aiff", "g.aif", "h.wav",
                               "i.ogg", "j.opus", "k.WMA", "name.with.dots.mp3"};
    for (const QString& name : audio) {
        tree.add(name);
    }
    for (const char* other : {"cover.jpg", "notes.txt", "no_extension", "playlist.m3u", "trailing.", "x.mp3.bak"}) {
        tree.add(QLatin1String(other));
    }
    tree.addFolder(QStringLiteral("folder.mp3")); // a folder with an audio extension
    EXPECT_EQ(tree.scanRelative(), audio);
}

TEST(FileScannerService, SkipsDotNamesButEntersDotFolders) {
    ScanTree tree;
    tree.add(QStringLiteral(".hidden.mp3"));
    tree.add(QStringLiteral(".config/inside.mp3"));
    tree.add(QStringLiteral(".config/.also_hidden.flac"));
    tree.add(QStringLiteral("visible/.x/.y/deep.ogg"));
    tree.add(QStringLiteral("visible/track.wav"));
    EXPECT_EQ(tree.scanRelative(),
              QStringList({".config/inside.mp3", "visible/.x/.y/deep.ogg", "visible/track.wav"}));
}

TEST(FileScannerService, SortsByFullPathByCharacterValue) {
    ScanTree tree;
    tree.add(QStringLiteral("abc/one.mp3"));
    tree.add(QStringLiteral("Zed/two.mp3"));
    tree.add(QStringLiteral("B/a.mp3"));
    tree.add(QStringLiteral("A/z.mp3"));
    // U+FF21 (fullwidth A) sorts before U+1F600 by character value, although
    // its UTF-16 unit is larger than the emoji's first surrogate.
    tree.add(QStringLiteral("\U0001F600.mp3"));
    tree.add(QStringLiteral("\uFF21.mp3"));
    tree.add(QStringLiteral("a.mp3"));
    EXPECT_EQ(tree.scanRelative(), QStringList({"A/z.mp3", "B/a.mp3", "Zed/two.mp3", "a.mp3", "abc/one.mp3",
                                                "\uFF21.mp3", "\U0001F600.mp3"}));
}

TEST(FileScannerService, NeverFollowsSymbolicLinks) {
    ScanTree tree;
    const QString real = tree.add(QStringLiteral("music/real.mp3"));
    ASSERT_TRUE(QFile::link(real, tree.path(QStringLiteral("music/link.mp3"))));
    // A link back to the root: following it would never end.
    ASSERT_TRUE(QFile::link(tree.root(), tree.path(QStringLiteral("music/loop"))));
    ASSERT_TRUE(QFile::link(tree.path(QStringLiteral("missing")), tree.path(QStringLiteral("dangling.mp3"))));
    EXPECT_EQ(tree.scanRelative(), QStringList({"music/real.mp3"}));
}

TEST(FileScannerService, EmptyFolderGivesEmptyListAndCountLine) {
    ScanTree tree;
    testing::internal::CaptureStdout();
    const QStringList files = FileScannerService().scanDirectory(tree.root());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(files.isEmpty());
    EXPECT_NE(out.find("[FileScannerService] Scanning directory: " + tree.root().toStdString() + "\n"),
              std::string::npos);
    EXPECT_NE(out.find("[FileScannerService] Found 0 audio files\n"), std::string::npos);
}

TEST(FileScannerService, MissingFolderOrFileThrowsFileNotFound) {
    ScanTree tree;
    const QString file = tree.add(QStringLiteral("file.mp3"));
    for (const QString& target : {tree.path(QStringLiteral("nothing")), file}) {
        try {
            FileScannerService().scanDirectory(target);
            ADD_FAILURE() << "no error for " << target.toStdString();
        } catch (const AppError& e) {
            EXPECT_EQ(e.kind(), AppError::Kind::fileNotFound);
            EXPECT_EQ(e.url(), target);
            EXPECT_EQ(e.errorDescription(), QStringLiteral("Datei nicht gefunden: ") + QFileInfo(target).fileName());
        }
    }
}

// Permissions do not stop the super-user, so as root the scan runs in a child
// process that has given up its rights.
TEST(FileScannerService, PassesOverUnreadableSubfoldersAndRejectsAnUnreadableRoot) {
    ScanTree tree;
    tree.add(QStringLiteral("open/a.mp3"));
    tree.add(QStringLiteral("locked/b.mp3"));
    tree.add(QStringLiteral("z.mp3"));
    ::chmod(tree.path(QStringLiteral("locked")).toLocal8Bit().constData(), 0);

    auto check = [&]() -> bool {
        const QStringList files = tree.scanRelative();
        if (files != QStringList({"open/a.mp3", "z.mp3"})) {
            return false;
        }
        try {
            FileScannerService().scanDirectory(tree.path(QStringLiteral("locked")));
            return false;
        } catch (const AppError& e) {
            return e.kind() == AppError::Kind::fileNotFound;
        }
    };

    if (::geteuid() != 0) {
        EXPECT_TRUE(check());
    } else {
        // Let an unprivileged user reach the tree.
        for (const QString& p : {tree.root(), tree.path("open"), tree.path("open/a.mp3"), tree.path("z.mp3")}) {
            ::chmod(p.toLocal8Bit().constData(), 0755);
        }
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const bool ok = ::setgid(65534) == 0 && ::setuid(65534) == 0 && check();
            ::_exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ::chmod(tree.path(QStringLiteral("locked")).toLocal8Bit().constData(), 0755);
}
