#include "model/DebugLogger.h"

#include "QtPrinters.h"
#include "TestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

#include <sys/stat.h>

namespace {

QString readLog(const DebugLogger& logger) {
    return QString::fromUtf8(TestFiles::readFile(logger.logFileURL()));
}

} // namespace

// The log is a diagnostic for support: it must carry each category and the
// file or folder a line is about, stay private, and write nothing while off.
TEST(DebugLogger, WritesCategoriesAndNamesIntoAPrivateFileOnlyWhileOn) {
    QTemporaryDir dir;
    DebugLogger logger(dir.filePath("a/Velmora"));
    logger.log("lost", LogCategory::info);
    logger.flush();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("a")));

    logger.setEnabled(true);
    logger.logSessionStart("/home/dj/Sets 1987", 12);
    logger.log("READ: track.mp3", LogCategory::file);
    logger.log("kaputt", LogCategory::error);
    logger.setEnabled(false);
    logger.log("ignored", LogCategory::info);
    logger.flush();
    const QString text = readLog(logger);
    for (const char* part : {"[FILE ] READ: track.mp3", "[ERROR] kaputt", "[SYS  ]", "/home/dj/Sets 1987"}) {
        EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part;
    }
    EXPECT_FALSE(text.contains("lost") || text.contains("ignored"));
    struct stat info {};
    ASSERT_EQ(stat(QFile::encodeName(logger.logFileURL()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    logger.setEnabled(true);
    logger.clearLog();
    logger.log("new line", LogCategory::info);
    logger.flush();
    EXPECT_FALSE(readLog(logger).contains("READ: track.mp3"));
    EXPECT_TRUE(readLog(logger).contains("new line"));
}

TEST(DebugLogger, FailingWritesAreDroppedAndLoggingRecovers) {
    if (!QFileInfo::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
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

    // Clearing removes the link and starts a real file.
    logger.clearLog();
    logger.log("after", LogCategory::info);
    logger.flush();
    EXPECT_FALSE(QFileInfo(logger.logFileURL()).isSymLink());
    EXPECT_TRUE(readLog(logger).endsWith("[INFO ] after\n"));
}

// The shared logger is never destroyed; at exit its writer thread finishes the
// queued lines and stops before the process tears down.
TEST(DebugLoggerDeathTest, SharedLoggerFinishesQueuedLinesAtExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child re-runs this test from the start: it takes the folder from the
    // environment that the parent set up.
    static const char* const kVariable = "VELMORA_TEST_EXIT_DATA_HOME";
    std::optional<QTemporaryDir> dir;
    if (qEnvironmentVariableIsEmpty(kVariable)) {
        dir.emplace();
        qputenv(kVariable, QFile::encodeName(dir->path()));
    }
    const QString dataHome = qEnvironmentVariable(kVariable);
    EXPECT_EXIT(
        {
            qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
            DebugLogger& logger = DebugLogger::shared();
            logger.setEnabled(true);
            for (int i = 0; i < 2000; ++i) {
                logger.log(QStringLiteral("line %1").arg(i), LogCategory::info);
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    qunsetenv(kVariable);
    const QStringList lines = QString::fromUtf8(TestFiles::readFile(dataHome + "/Velmora/Velmora_debug.log"))
                                  .split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().endsWith("[INFO ] line 1999")) << lines.last().toStdString();
}
