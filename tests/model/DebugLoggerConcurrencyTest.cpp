#include "model/DebugLogger.h"

#include "TestFiles.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

// Long lines from many threads, with switching and clearing in between: every
// line stays whole and each thread's lines keep their order.
TEST(DebugLoggerConcurrency, LinesOfConcurrentCallersStayWholeAndInCallOrder) {
    QTemporaryDir dir;
    DebugLogger logger(dir.path());
    logger.setEnabled(true);
    constexpr int kThreads = 6;
    constexpr int kLines = 300;
    const QString padding(1500, QLatin1Char('x'));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                logger.log(QStringLiteral("T%1 #%2 %3").arg(t).arg(i).arg(padding), LogCategory::info);
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 10; ++i) {
            logger.logSessionStart("/music", i);
            logger.setEnabled(true);
        }
    });
    for (auto& thread : threads) {
        thread.join();
    }
    logger.flush();

    const QRegularExpression format(QStringLiteral("\\[INFO \\] T(\\d+) #(\\d+) (x+)$"));
    std::vector<int> next(kThreads, 0);
    for (const QString& line : QString::fromUtf8(TestFiles::readFile(logger.logFileURL())).split('\n')) {
        if (!line.contains(QStringLiteral("[INFO ]"))) {
            continue;
        }
        const auto match = format.match(line);
        ASSERT_TRUE(match.hasMatch() && match.captured(3).size() == padding.size())
            << line.left(80).toStdString();
        const int t = match.captured(1).toInt();
        ASSERT_EQ(match.captured(2).toInt(), next[t]) << "thread " << t;
        ++next[t];
    }
    EXPECT_EQ(next, std::vector<int>(kThreads, kLines));
}
