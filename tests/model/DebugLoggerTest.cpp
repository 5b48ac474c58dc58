#include "model/DebugLogger.h"

#include "TestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The log is a diagnostic for support: it carries each category and the file
// or folder a line is about, and nothing while it is off.
TEST(DebugLogger, WritesCategoriesAndNamesOnlyWhileOn) {
    QTemporaryDir dir;
    DebugLogger logger(dir.filePath("a/Velmora"));
    const auto text = [&] {
        logger.flush();
        return QString::fromUtf8(TestFiles::readFile(logger.logFileURL()));
    };
    logger.log("lost", LogCategory::info);
    logger.flush();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("a")));
    logger.setEnabled(true);
    logger.logSessionStart("/home/dj/Sets 1987", 12);
    logger.log("READ: track.mp3", LogCategory::file);
    logger.log("kaputt", LogCategory::error);
    logger.setEnabled(false);
    logger.log("ignored", LogCategory::info);
    for (const char* part : {"[FILE ] READ: track.mp3", "[ERROR] kaputt", "[SYS  ]", "/home/dj/Sets 1987"}) {
        EXPECT_TRUE(text().contains(QString::fromUtf8(part))) << part;
    }
    EXPECT_FALSE(text().contains("lost") || text().contains("ignored"));
    logger.setEnabled(true);
    logger.clearLog();
    logger.log("new line", LogCategory::info);
    EXPECT_FALSE(text().contains("track.mp3"));
    EXPECT_TRUE(text().contains("new line"));
}

TEST(DebugLogger, FailingWritesAreDroppedAndLoggingRecovers) {
    QTemporaryDir dir;
    DebugLogger logger(dir.path());
    // Every write to /dev/full fails with "no space left on device".
    ASSERT_TRUE(QFile::link("/dev/full", logger.logFileURL()));
    logger.setEnabled(true);
    for (int i = 0; i < 50; ++i) {
        logger.log(QStringLiteral("line %1").arg(i), LogCategory::write);
    }
    logger.flush();
    EXPECT_TRUE(logger.isEnabled());
    logger.clearLog(); // removes the link and starts a real file
    logger.log("after", LogCategory::info);
    logger.flush();
    EXPECT_FALSE(QFileInfo(logger.logFileURL()).isSymLink());
    EXPECT_TRUE(TestFiles::readFile(logger.logFileURL()).endsWith("[INFO ] after\n"));
}
