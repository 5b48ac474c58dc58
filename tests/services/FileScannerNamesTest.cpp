#include "services/FileScannerService.h"

#include "TestFiles.h"
#include "tagio/UniversalTagReader.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

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
