#include "model/DebugLogger.h"

#include "ConsoleCapture.h"
#include "TestFiles.h"
#include "model/Console.h"
#include "model/TextUtil.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using TestFiles::modeOf;

TEST(DebugLoggerTest, DebugLogOpensOnlyItsOwnPrivateFile) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("data/Velmora"));
    const QString target = dir.filePath(QStringLiteral("elsewhere.txt"));
    TestFiles::writeFile(target, "kept\n");
    const QString log = QDir(folder).filePath(QStringLiteral("Velmora_debug.log"));
    // A new file, then one loosened to 0644: both are kept private.
    for (int round = 0; round < 2; ++round) {
        DebugLogger logger(folder);
        logger.setEnabled(true);
        logger.flush();
        EXPECT_EQ(modeOf(folder), 0700u);
        EXPECT_EQ(modeOf(log), 0600u) << round;
        ::chmod(QFile::encodeName(log).constData(), 0644);
    }
    // A link at the log's name is never followed.
    QFile::remove(log);
    QFile::link(target, log);
    {
        DebugLogger logger(folder);
        logger.setEnabled(true);
        logger.log(QStringLiteral("x"), LogCategory::api);
        logger.flush();
    }
    EXPECT_EQ(TestFiles::readFile(target), QByteArray("kept\n"));
}

// A value with a line break cannot forge a line of its own, nor one with a
// bidi override or a zero-width character disguise what the line says.
TEST(DebugLoggerTest, LogAndConsoleLinesEscapeControlCharacters) {
    const QString forged =
        QStringLiteral("Title\n[2026-01-01 00:00:00.000] [WRITE] forged\r\x1b[2J\u2028\u202Egpj.\u200B\u2066\uFEFF");
    const QString escaped = QStringLiteral(
        "Title\\n[2026-01-01 00:00:00.000] [WRITE] forged\\r\\x1B[2J\\u2028\\u202Egpj.\\u200B\\u2066\\uFEFF");
    const QString line = DebugLogger::formatLine(QDateTime::currentDateTime(), LogCategory::api, forged);
    EXPECT_TRUE(line.endsWith(escaped + QLatin1Char('\n')));
    EXPECT_EQ(line.count(QLatin1Char('\n')), 1);
    // A 100,000-character title makes one short line, its start kept.
    const QString title = QString(TextUtil::maxLogLineChars, QLatin1Char('x')) + QString(98000, QChar(0x202E));
    ConsoleCapture console;
    Console::line(forged);
    Console::line(title);
    const QStringList lines = console.lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], escaped);
    for (const QString& cutLine :
         {lines[1], DebugLogger::formatLine(QDateTime::currentDateTime(), LogCategory::api, title)}) {
        EXPECT_TRUE(cutLine.contains(QString(TextUtil::maxLogLineChars, QLatin1Char('x')) + "… (cut, 100000"));
        EXPECT_LT(cutLine.size(), TextUtil::maxLogLineChars + 100);
    }
}

TEST(DebugLoggerTest, WritesCategoriesAndNamesOnlyWhileOn) {
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
    {
        DebugLogger ending(dir.filePath("b"));
        ending.setEnabled(true);
        ending.log("last words", LogCategory::info); // its end writes what is queued
    }
    EXPECT_TRUE(TestFiles::readFile(dir.filePath("b/Velmora_debug.log")).contains("last words"));
}
