#include "services/FileScannerService.h"

#include "QtPrinters.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/AppError.h"
#include "tagio/UniversalTagReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A folder tree built from the scan fixtures.
class ScanTree {
public:
    QString root() const { return m_dir.path(); }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }
    QString add(const QString& relative, const char* fixture = "untagged.mp3") {
        const QString target = path(relative);
        QDir().mkpath(QFileInfo(target).path());
        QFile::remove(target);
        EXPECT_TRUE(
            QFile::copy(TestFiles::fixturePath(QStringLiteral("scan/") + QLatin1String(fixture)), target));
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

// Supported extensions in any case, never a symbolic link (a link back to the
// root would never end), and a missing folder or a file as the root is not found.
TEST(FileScannerService, ListsSupportedFilesOnly) {
    ScanTree tree;
    const QStringList audio = {"a.mp3", "b.MP3", "c.Flac", "d.m4a",  "e.AAC", "f.aiff", "g.aif",
                               "h.wav", "i.ogg", "j.opus", "k.WMA", "music/real.mp3", "name.with.dots.mp3"};
    for (const QString& name : audio) {
        tree.add(name);
    }
    for (const char* other : {"cover.jpg", "notes.txt", "no_extension", "playlist.m3u", "trailing.", "x.mp3.bak"}) {
        tree.add(QLatin1String(other));
    }
    tree.addFolder(QStringLiteral("folder.mp3"));
    ASSERT_TRUE(QFile::link(tree.path("music/real.mp3"), tree.path(QStringLiteral("music/link.mp3"))));
    ASSERT_TRUE(QFile::link(tree.root(), tree.path(QStringLiteral("music/loop"))));
    ASSERT_TRUE(QFile::link(tree.path(QStringLiteral("missing")), tree.path(QStringLiteral("dangling.mp3"))));
    EXPECT_EQ(tree.scanRelative(), audio);
    for (const QString& target : {tree.path(QStringLiteral("nothing")), tree.path("a.mp3")}) {
        expectThrows(AppError::Kind::fileNotFound, [&] { FileScannerService().scanDirectory(target); });
    }
}

// A Latin-1 "Café.mp3" is reported and counted instead of vanishing; a valid name beside it reads.
TEST(FileScannerNames, NameThatIsNotUtf8IsListedAndFailsItsRead) {
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray mp3 = TestFiles::readFile(TestFiles::fixturePath("scan/tagged.mp3"));
    for (const QByteArray& name : {QByteArray("Caf\xe9.mp3"), QByteArray("Caf\xc3\xa9.mp3")}) {
        const int fd = ::open((folder + '/' + name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, mp3.constData(), size_t(mp3.size())), ssize_t(mp3.size()));
        ::close(fd);
    }
    const QStringList found = FileScannerService().scanDirectory(dir.path());
    ASSERT_EQ(found.size(), 2);
    EXPECT_NE(FileScannerService().readFile(found[0], UniversalTagReader()), std::nullopt); // "Café.mp3"
    EXPECT_EQ(FileScannerService().readFile(found[1], UniversalTagReader()), std::nullopt); // "Caf\uFFFD.mp3"
}
