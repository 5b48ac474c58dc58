#include "services/BackgroundWork.h"

#include "TestHelpers.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <atomic>

#include <gtest/gtest.h>

// A result handed over by a worker reaches the owner through the mailbox's lock
// alone. The owner takes its posted events without waiting in the event loop
// (where the wake-up's file descriptor would show the race checker an order),
// so anything the wake-up carried from the worker's thread would be reported.
TEST(BackgroundWorkConcurrencyTest, EachResultOfAWorkerReachesTheOwnerOnceInOrder) {
    BackgroundWork work({1});
    QThread* const owner = QThread::currentThread();
    QList<int> applied;
    bool allOnOwner = true;
    for (int i = 0; i < 300; ++i) {
        work.post([&work, &applied, &allOnOwner, owner, i] {
            work.deliver([&applied, &allOnOwner, owner, i] {
                allOnOwner = allOnOwner && QThread::currentThread() == owner;
                applied.append(i);
            });
        });
        QDeadlineTimer hang(hangMs);
        while (applied.size() == i && !hang.hasExpired()) {
            QCoreApplication::sendPostedEvents();
        }
        ASSERT_EQ(applied.size(), i + 1);
    }
    EXPECT_TRUE(allOnOwner);
    for (int i = 0; i < applied.size(); ++i) {
        ASSERT_EQ(applied.at(i), i);
    }
}

// A lane never runs more jobs at once than its width: Manual mode's serial lane
// (width 1) runs scans, writes and undo, which must never overlap, and its
// lookup lane bounds the requests in flight. Each job holds for a moment, so
// that a lane running too many would show it; both lanes run side by side.
TEST(BackgroundWorkConcurrencyTest, NoLaneRunsMoreJobsAtOnceThanItsWidth) {
    const std::vector<int> widths = {4, 1};
    BackgroundWork work(widths);
    struct Count {
        std::atomic<int> running{0};
        std::atomic<int> most{0};
        std::atomic<int> done{0};
    };
    std::vector<Count> counts(widths.size());
    constexpr int jobsPerLane = 40;
    for (int i = 0; i < jobsPerLane; ++i) {
        for (std::size_t lane = 0; lane < widths.size(); ++lane) {
            work.post(lane, [&count = counts[lane]] {
                const int now = ++count.running;
                int most = count.most;
                while (now > most && !count.most.compare_exchange_weak(most, now)) {
                }
                QThread::msleep(2);
                --count.running;
                ++count.done;
            });
        }
    }
    work.waitForDone();
    for (std::size_t lane = 0; lane < widths.size(); ++lane) {
        SCOPED_TRACE(lane);
        EXPECT_EQ(counts[lane].done, jobsPerLane);
        EXPECT_GE(counts[lane].most, 1);
        EXPECT_LE(counts[lane].most, widths[lane]);
    }
}
