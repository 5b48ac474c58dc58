#include "model/DebugLogger.h"

#include "TestFiles.h"
#include "Threads.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

TEST(DebugLoggerConcurrencyTest, LinesOfConcurrentCallersStayWholeAndInCallOrder) {
    QTemporaryDir dir;
    DebugLogger logger(dir.path());
    logger.setEnabled(true);
    const QString padding(1500, QLatin1Char('x'));
    Threads::JoinedThreads threads;
    for (int t = 0; t < 6; ++t) {
        threads.start([&, t] {
            for (int i = 0; i < 300; ++i) {
                logger.log(QStringLiteral("T%1 #%2 %3").arg(t).arg(i).arg(padding), LogCategory::info);
            }
        });
    }
    threads.joinAll();
    logger.flush();
    const QRegularExpression format(QStringLiteral("\\[INFO \\] T(\\d+) #(\\d+) (x{1500})$"));
    std::vector<int> next(6, 0);
    for (const QString& line : QString::fromUtf8(TestFiles::readFile(logger.logFileURL())).split('\n')) {
        const auto match = format.match(line);
        ASSERT_TRUE(match.hasMatch() || !line.contains(QStringLiteral("[INFO ]"))) << line.left(80).toStdString();
        if (match.hasMatch()) {
            ASSERT_EQ(match.captured(2).toInt(), next[match.captured(1).toInt()]++) << line.left(20).toStdString();
        }
    }
    EXPECT_EQ(next, std::vector<int>(6, 300));
}
