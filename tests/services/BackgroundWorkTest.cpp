#include "services/BackgroundWork.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

// Results that keep arriving while earlier ones are applied (jobs that end at
// once) wait for the next turn: the owner's thread gets to the events queued
// meanwhile (a click, a paint) instead of applying results until none is left.
TEST(BackgroundWorkTest, ResultsHandedDuringADrainLetQueuedEventsRunFirst) {
    BackgroundWork work;
    QList<int> applied;
    int appliedBeforeOtherEvent = -1;
    std::function<void()> next = [&] {
        applied.append(int(applied.size()));
        if (applied.size() == 1) {
            QMetaObject::invokeMethod(
                qApp, [&] { appliedBeforeOtherEvent = int(applied.size()); }, Qt::QueuedConnection);
        }
        if (applied.size() < 200) {
            work.deliver(next);
        }
    };
    work.deliver(next);
    ASSERT_TRUE(QTest::qWaitFor([&] { return applied.size() == 200; }, 20000));
    EXPECT_EQ(appliedBeforeOtherEvent, 1);
    for (int i = 0; i < applied.size(); ++i) {
        ASSERT_EQ(applied.at(i), i); // in the order handed
    }
}
