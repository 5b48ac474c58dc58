#include "model/DebugLogger.h"

#include "QtPrinters.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QDateTime kFixedTime(QDate(2026, 12, 5), QTime(14, 3, 7, 45));

DebugLogger::Clock fixedClock() {
    return [] {
        return kFixedTime;
    };
}

QString readLog(const DebugLogger& logger) {
    return QString::fromUtf8(TestFiles::readFile(logger.logFileURL()));
}

QString sysLine(const QString& message) {
    return DebugLogger::formatLine(kFixedTime, LogCategory::sys, message);
}

// What switching on (or clearing while on) appends, at the fixed time.
QString openingBlock(const DebugLogger& logger) {
    return DebugLogger::bannerText(kFixedTime) +
           sysLine(QStringLiteral("App: Velmora " VELMORA_VERSION " (" VELMORA_BUILD_NUMBER ")")) +
           sysLine(DebugLogger::systemInfoLine()) +
           sysLine(QStringLiteral("Log-Datei: ") + logger.logFileURL());
}

QString dashes() {
    return QString(80, QLatin1Char('-')) + QLatin1Char('\n');
}

} // namespace

TEST(DebugLogger, LineFormatAndCategoryTags) {
    EXPECT_EQ(DebugLogger::formatLine(kFixedTime, LogCategory::api, "abc"),
              QStringLiteral("[2026-12-05 14:03:07.045] [API  ] abc\n"));
    const QDateTime late(QDate(2031, 1, 9), QTime(23, 59, 59, 999));
    EXPECT_EQ(
        DebugLogger::formatLine(late, LogCategory::error, QString::fromUtf8("Schreiben fehlgeschlagen: ä")),
        QString::fromUtf8("[2031-01-09 23:59:59.999] [ERROR] Schreiben fehlgeschlagen: ä\n"));
    const std::pair<LogCategory, const char*> tags[] = {
        {LogCategory::sys, "SYS  "},   {LogCategory::file, "FILE "},  {LogCategory::api, "API  "},
        {LogCategory::write, "WRITE"}, {LogCategory::error, "ERROR"}, {LogCategory::info, "INFO "}};
    for (const auto& [category, tag] : tags) {
        EXPECT_EQ(DebugLogger::categoryTag(category), QString::fromLatin1(tag));
    }
}

TEST(DebugLogger, BannerAndSystemLines) {
    const QString equals(80, QLatin1Char('='));
    EXPECT_EQ(DebugLogger::bannerText(kFixedTime),
              "\n" + equals + "\n=== NEUE SITZUNG: 2026-12-05 14:03:07 ===\n" + equals + "\n");

    EXPECT_EQ(DebugLogger::appInfoLine("2.1.0", "57"), QStringLiteral("App: Velmora 2.1.0 (57)"));
    EXPECT_EQ(DebugLogger::appInfoLine("", ""), QStringLiteral("App: Velmora ? (?)"));

    const QString line = DebugLogger::systemInfoLine();
    const QRegularExpression format(
        QStringLiteral("^(.+): (.+) \\| RAM: (\\d+\\.\\d) GB \\| fd-Limit soft: (\\d+) / hard: (\\d+)$"));
    const auto match = format.match(line);
    ASSERT_TRUE(match.hasMatch()) << line.toStdString();
    EXPECT_GT(match.captured(3).toDouble(), 0.0);
    struct rlimit limit {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    EXPECT_EQ(match.captured(4).toULongLong(), static_cast<qulonglong>(limit.rlim_cur));
    EXPECT_EQ(match.captured(5).toULongLong(), static_cast<qulonglong>(limit.rlim_max));
}

TEST(DebugLogger, LogFileLivesInTheDataFolder) {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    EXPECT_EQ(DebugLogger::defaultLogDirectory(), QDir(data).filePath("Velmora"));
    EXPECT_EQ(DebugLogger::shared().logFileURL(), QDir(data).filePath("Velmora/Velmora_debug.log"));
    EXPECT_FALSE(DebugLogger::shared().isEnabled());
    EXPECT_EQ(&DebugLogger::shared(), &DebugLogger::shared());
}

TEST(DebugLogger, SwitchingOnWritesBannerAndSystemLinesIntoAPrivateFile) {
    QTemporaryDir dir;
    DebugLogger logger(dir.filePath("a/b/Velmora"), fixedClock());
    logger.flush();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("a"))); // making the logger writes nothing

    logger.setEnabled(true);
    EXPECT_TRUE(logger.isEnabled());
    logger.log("abc", LogCategory::api);
    logger.flush();

    EXPECT_EQ(readLog(logger), openingBlock(logger) + "[2026-12-05 14:03:07.045] [API  ] abc\n");
    struct stat info {};
    ASSERT_EQ(stat(QFile::encodeName(logger.logFileURL()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(DebugLogger, SwitchingOnTwiceAppendsTwoBanners) {
    QTemporaryDir dir;
    TestFiles::writeFile(dir.filePath("Velmora_debug.log"), "earlier run\n");
    DebugLogger logger(dir.path(), fixedClock());
    logger.setEnabled(true);
    logger.setEnabled(true);
    logger.log("x", LogCategory::file);
    logger.flush();
    EXPECT_EQ(readLog(logger), "earlier run\n" + openingBlock(logger) + openingBlock(logger) +
                                   "[2026-12-05 14:03:07.045] [FILE ] x\n");
}

TEST(DebugLogger, NothingIsWrittenWhileOff) {
    QTemporaryDir dir;
    DebugLogger logger(dir.path(), fixedClock());
    logger.log("before", LogCategory::info);
    logger.logSessionStart("/music", 3);
    logger.logSessionEnd(1, 1, 1);
    logger.flush();
    EXPECT_FALSE(QFileInfo::exists(logger.logFileURL()));

    logger.log("lost", LogCategory::info);
    logger.setEnabled(true);
    logger.log("kept", LogCategory::info);
    logger.setEnabled(false);
    // Queued before switching off, so still written; after it, ignored.
    logger.log("ignored", LogCategory::info);
    logger.flush();
    EXPECT_EQ(readLog(logger), openingBlock(logger) + "[2026-12-05 14:03:07.045] [INFO ] kept\n");
}

TEST(DebugLogger, SessionLinesFrameARun) {
    QTemporaryDir dir;
    DebugLogger logger(dir.path(), fixedClock());
    logger.setEnabled(true);
    logger.logSessionStart(QString::fromUtf8("/home/dj/Musik/Sets 1987"), 12);
    logger.log("Datei gelesen", LogCategory::file);
    logger.logSessionEnd(7, 3, 2);
    logger.flush();
    EXPECT_EQ(
        readLog(logger),
        openingBlock(logger) + dashes() +
            sysLine(
                QString::fromUtf8("SESSION START — Verzeichnis: /home/dj/Musik/Sets 1987 | Dateien: 12")) +
            "[2026-12-05 14:03:07.045] [FILE ] Datei gelesen\n" +
            sysLine(QString::fromUtf8("SESSION END — aktualisiert: 7 | übersprungen: 3 | Probleme: 2")) +
            dashes());
}

TEST(DebugLogger, ClearLogRestartsTheFileOnlyWhileOn) {
    QTemporaryDir dir;
    DebugLogger logger(dir.path(), fixedClock());
    logger.setEnabled(true);
    logger.log("old line", LogCategory::info);
    logger.clearLog();
    logger.log("new line", LogCategory::info);
    logger.flush();
    EXPECT_EQ(readLog(logger), openingBlock(logger) + "[2026-12-05 14:03:07.045] [INFO ] new line\n");

    logger.setEnabled(false);
    logger.clearLog();
    logger.log("dropped", LogCategory::info);
    logger.flush();
    EXPECT_FALSE(QFileInfo::exists(logger.logFileURL()));

    // Clearing a missing file is harmless.
    logger.clearLog();
    logger.flush();
    logger.setEnabled(true);
    logger.flush();
    EXPECT_EQ(readLog(logger), openingBlock(logger));
}

TEST(DebugLogger, UnopenableFileDropsLinesWithoutStopping) {
    QTemporaryDir dir;
    TestFiles::writeFile(dir.filePath("plain-file"), "x");
    // The folder would have to live beneath a regular file.
    DebugLogger logger(dir.filePath("plain-file/Velmora"), fixedClock());
    logger.setEnabled(true);
    logger.log("dropped", LogCategory::error);
    logger.logSessionStart("/music", 1);
    logger.logSessionEnd(0, 0, 1);
    logger.clearLog();
    logger.flush();
    EXPECT_TRUE(logger.isEnabled());
    EXPECT_FALSE(QFileInfo::exists(logger.logFileURL()));
}

TEST(DebugLogger, FailingWritesAreDroppedAndLoggingRecovers) {
    if (!QFileInfo::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    QTemporaryDir dir;
    DebugLogger logger(dir.path(), fixedClock());
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
    EXPECT_EQ(readLog(logger), openingBlock(logger) + "[2026-12-05 14:03:07.045] [INFO ] after\n");
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
