#include "services/FileScannerService.h"

#include "QtPrinters.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/AppSettings.h"
#include "tagio/UniversalTagReader.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Supported extensions in any case, never a symbolic link (a link back to the
// root would never end), and a missing folder or a file as the root is not found.
TEST(FileScannerServiceTest, ListsSupportedFilesOnly) {
    QTemporaryDir dir;
    const QDir root(dir.path());
    const QStringList audio = {"a.mp3", "b.MP3", "c.Flac", "d.m4a",  "e.AAC", "f.aiff", "g.aif",
                               "h.wav", "i.ogg", "j.opus", "k.WMA", "music/real.mp3", "name.with.dots.mp3"};
    for (const char* other : {"cover.jpg", "notes.txt", "no_extension", "list.m3u", "trailing.", "x.mp3.bak"}) {
        ASSERT_TRUE(QFile::copy(TestFiles::fixturePath("scan/untagged.mp3"), root.filePath(other)));
    }
    ASSERT_TRUE(root.mkpath("music") && root.mkpath("folder.mp3"));
    for (const QString& name : audio) {
        ASSERT_TRUE(QFile::copy(TestFiles::fixturePath("scan/untagged.mp3"), root.filePath(name)));
    }
    ASSERT_TRUE(QFile::link(root.filePath("music/real.mp3"), root.filePath("music/link.mp3")));
    ASSERT_TRUE(QFile::link(root.path(), root.filePath("music/loop")));
    ASSERT_TRUE(QFile::link(root.filePath("missing"), root.filePath("dangling.mp3")));
    QStringList found;
    for (const QString& p : FileScannerService().scanDirectory(root.path())) {
        found.append(root.relativeFilePath(p));
    }
    EXPECT_EQ(found, audio);
    for (const QString& target : {root.filePath("nothing"), root.filePath("a.mp3")}) {
        expectThrows(AppError::Kind::fileNotFound, [&] { FileScannerService().scanDirectory(target); });
    }
}

// A Latin-1 "Café.mp3" is reported and counted instead of vanishing; a valid name beside it reads.
TEST(FileScannerServiceTest, NameThatIsNotUtf8IsListedAndFailsItsRead) {
    QTemporaryDir dir;
    const auto removeNames = qScopeGuard([&] { TestFiles::removeTree(dir.path()); }); // not UTF-8
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray mp3 = TestFiles::readFile(TestFiles::fixturePath("scan/tagged.mp3"));
    for (const QByteArray& name : {QByteArray("Caf\xe9.mp3"), QByteArray("Caf\xc3\xa9.mp3")}) {
        const int fd = ::open((folder + '/' + name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, mp3.constData(), size_t(mp3.size())), ssize_t(mp3.size()));
        ::close(fd);
    }
    ASSERT_EQ(::mkdir((folder + "/Caf\xe9").constData(), 0700), 0); // a folder it cannot enter is reported
    QList<FileScannerService::Unreadable> unreadable;
    const QStringList found = FileScannerService().scanDirectory(dir.path(), &unreadable);
    EXPECT_EQ(unreadable,
              (QList<FileScannerService::Unreadable>{{dir.filePath(QStringLiteral("Caf\uFFFD"))}}));
    ASSERT_EQ(found.size(), 2);
    EXPECT_NE(FileScannerService().readFile(found[0], UniversalTagReader()), std::nullopt); // "Café.mp3"
    EXPECT_EQ(FileScannerService().readFile(found[1], UniversalTagReader()), std::nullopt); // "Caf\uFFFD.mp3"
}

// What the user may not read is reported as access denied, also as root: a folder, a file in a
// folder that can be listed but not entered, a file, the folder itself. A file that vanished
// after it was listed is not found, not denied. A FLAC file with garbage after its marker is
// refused by the read, which names the file and the failure once.
TEST(FileScannerServiceTest, UnreadableItemsAreReportedWithWhetherAccessWasDenied) {
    QTemporaryDir dir;
    const auto reopen = qScopeGuard([&] { TestFiles::removeTree(dir.path()); }); // closed folders
    const QDir root(dir.path());
    ASSERT_TRUE(root.mkpath("locked") && root.mkpath("closed") && root.mkpath("open"));
    const QString corrupt = root.filePath("open/corrupt.flac");
    TestFiles::writeFile(corrupt, "fLaC" + QByteArray(200, 'Z'));
    const struct {
        const char* file;
        bool read, denied;
        const char* error; // as the read throws it
    } rows[] = {{"closed/b.mp3", false, true, ""},
                {"open/c.mp3", true, false, ""},
                {"open/corrupt.flac", false, false, "FLAC metadata block extends beyond file bounds"},
                {"open/gone.mp3", false, false, "Datei nicht gefunden"},
                {"open/locked.mp3", false, true, ""}};
    QStringList paths;
    for (const auto& row : rows) {
        paths.append(root.filePath(row.file));
        if (!QFileInfo::exists(paths.last())) {
            ASSERT_TRUE(QFile::copy(TestFiles::fixturePath("scan/tagged.mp3"), paths.last()));
        }
    }
    for (const auto& [name, mode] : {std::pair{"locked", 0}, {"closed", 0644}, {"open/locked.mp3", 0}}) {
        ASSERT_EQ(::chmod(QFile::encodeName(root.filePath(name)).constData(), mode), 0);
    }
    TestFiles::PermissionBitsHold user;
    ASSERT_TRUE(user.holds());
    using Unreadable = FileScannerService::Unreadable;
    QList<Unreadable> unreadable;
    EXPECT_EQ(FileScannerService().scanDirectory(root.path(), &unreadable), paths);
    EXPECT_EQ(unreadable, (QList<Unreadable>{{root.filePath("locked"), true}}));
    ASSERT_TRUE(QFile::remove(root.filePath("open/gone.mp3")));
    for (const auto& row : rows) {
        const QString path = root.filePath(row.file);
        QList<Unreadable> failed;
        EXPECT_EQ(FileScannerService().readFile(path, UniversalTagReader(), &failed).has_value(), row.read);
        EXPECT_EQ(failed, (row.read ? QList<Unreadable>{} : QList<Unreadable>{{path, row.denied, row.error}}))
            << row.file;
    }
    const auto error =
        expectThrows(AppError::Kind::tagReadFailed, [&] { UniversalTagReader().readTags(corrupt); });
    EXPECT_EQ(
        error.value_or(AppError::cancelled()).errorDescription(),
        "Tags konnten nicht gelesen werden [corrupt.flac]: FLAC metadata block extends beyond file bounds");
    ASSERT_EQ(::chmod(QFile::encodeName(root.path()).constData(), 0), 0);
    const auto denied =
        expectThrows(AppError::Kind::accessDenied, [&] { FileScannerService().scanDirectory(root.path()); });
    AppSettings::shared().setAppLanguage(AppLanguage::english);
    EXPECT_EQ(FileScannerService::failureText(denied.value_or(AppError::cancelled())),
              "Permission denied: " + QFileInfo(root.path()).fileName());
}

// The reason the screens name for an unreadable file: the readers' own texts in
// the interface language (values kept), any other text as it is.
TEST(FileScannerServiceTest, ReasonOfAnUnreadableFileIsInTheInterfaceLanguage) {
    using Unreadable = FileScannerService::Unreadable;
    // clang-format off
    const struct {
        Unreadable item;
        const char *german, *english;
    } rows[] = {
        {{"/m/a.mp3", true, "ignored"}, "Zugriff verweigert", "Permission denied"},
        {{"/m/a.flac", false, "FLAC metadata block extends beyond file bounds"}, "FLAC-Metadatenblock reicht über das Dateiende hinaus", "FLAC metadata block extends beyond file bounds"},
        {{"/m/a.flac", false, "FLAC metadata holds too many blocks"}, "FLAC-Metadaten enthalten zu viele Blöcke", "FLAC metadata holds too many blocks"},
        {{"/m/a.mp3", false, "Datei nicht gefunden"}, "Datei nicht gefunden", "File not found"},
        {{"/m/a.mp3", false, "Datei konnte nicht gelesen werden"}, "Datei konnte nicht gelesen werden", "The file could not be read"},
        {{"/m/a.mp3", false, "ID3 frame 'APIC' too large to read (99 bytes)"}, "ID3-Frame 'APIC' zu groß zum Lesen (99 Bytes)", "ID3 frame 'APIC' too large to read (99 bytes)"},
        {{"/m/a.m4a", false, "MP4 'moov' atom too large to read (7 bytes)"}, "MP4-Atom 'moov' zu groß zum Lesen (7 Bytes)", "MP4 'moov' atom too large to read (7 bytes)"},
        {{"/m/a.mp3", false, "No such file or directory"}, "No such file or directory", "No such file or directory"},
        {{"/m/folder"}, "", ""},
    };
    // clang-format on
    for (const auto& row : rows) {
        AppSettings::shared().setAppLanguage(AppLanguage::german);
        EXPECT_EQ(row.item.reason(), QString::fromUtf8(row.german)) << row.english;
        AppSettings::shared().setAppLanguage(AppLanguage::english);
        EXPECT_EQ(row.item.reason(), QString::fromUtf8(row.english)) << row.english;
    }
}
