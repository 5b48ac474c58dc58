#include "model/DebugLogger.h"

#include "QtPrinters.h"
#include "TestFiles.h"

#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

QStringList logLines(const DebugLogger& logger) {
    QString text = QString::fromUtf8(TestFiles::readFile(logger.logFileURL()));
    EXPECT_TRUE(text.endsWith('\n'));
    text.chop(1);
    return text.split('\n');
}

} // namespace

TEST(DebugLoggerConcurrency, LinesOfConcurrentCallersStayWholeAndInCallOrder) {
    QTemporaryDir dir;
    DebugLogger logger(dir.path());
    logger.setEnabled(true);

    constexpr int kThreads = 8;
    constexpr int kLines = 300;
    // Long lines, so that a torn write would show.
    const QString padding(1500, QLatin1Char('x'));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                logger.log(QStringLiteral("T%1 #%2 %3").arg(t).arg(i).arg(padding), LogCategory::info);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    logger.flush();

    const QStringList lines = logLines(logger);
    // Leading blank line, rule, heading, rule, three system lines.
    ASSERT_EQ(lines.size(), 7 + kThreads * kLines);
    const QRegularExpression format(QStringLiteral(
        "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] \\[INFO \\] T(\\d+) #(\\d+) (x+)$"));
    std::vector<int> next(kThreads, 0);
    for (qsizetype i = 7; i < lines.size(); ++i) {
        const auto match = format.match(lines[i]);
        ASSERT_TRUE(match.hasMatch()) << "line " << i;
        ASSERT_EQ(match.captured(3).size(), padding.size());
        const int t = match.captured(1).toInt();
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(match.captured(2).toInt(), next[t]) << "thread " << t;
        next[t] = match.captured(2).toInt() + 1;
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(next[t], kLines);
    }
}

TEST(DebugLoggerConcurrency, SwitchingAndClearingWhileOthersLogKeepsTheFileWellFormed) {
    QTemporaryDir dir;
    DebugLogger logger(dir.path());
    logger.setEnabled(true);

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                logger.log(QStringLiteral("worker %1 line %2").arg(t).arg(i), LogCategory::file);
                if (i % 50 == 0) {
                    logger.flush();
                }
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 20; ++i) {
            logger.setEnabled(i % 2 == 0);
            logger.logSessionStart("/music", i);
            logger.logSessionEnd(i, 0, 0);
            if (i % 5 == 0) {
                logger.clearLog();
            }
        }
        logger.setEnabled(true);
    });
    for (auto& thread : threads) {
        thread.join();
    }
    logger.log("last", LogCategory::info);
    logger.flush();

    const QStringList lines = logLines(logger);
    const QRegularExpression entry(QStringLiteral(
        "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] \\[(SYS  |FILE |INFO )\\] .+$"));
    const QRegularExpression heading(
        QStringLiteral("^=== NEUE SITZUNG: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ===$"));
    for (const QString& line : lines) {
        const bool known = line.isEmpty() || line == QString(80, '=') || line == QString(80, '-') ||
                           heading.match(line).hasMatch() || entry.match(line).hasMatch();
        EXPECT_TRUE(known) << line.toStdString();
    }
    EXPECT_TRUE(lines.last().endsWith("[INFO ] last"));
}
