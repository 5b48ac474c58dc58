#include "services/BackgroundWork.h"

#include "TestHelpers.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

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
