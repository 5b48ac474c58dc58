#include "ui/DoubleClickGuard.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyleHints>
#include <QTest>

#include <gtest/gtest.h>

// A button that has just taken another's place ignores clicks for the platform's whole
// double-click interval, not a part of it: a second click a user makes late in the interval
// must not start or undo a run. Here the interval is 2 s; a click after a quarter of it is
// ignored (a guard a tenth as long would take it), one after all of it is taken.
TEST(DoubleClickGuardTest, LastsThePlatformsDoubleClickInterval) {
    QStyleHints* hints = QGuiApplication::styleHints();
    const int interval = 2000;
    const auto restore = qScopeGuard(
        [hints, old = hints->mouseDoubleClickInterval()] { hints->setMouseDoubleClickInterval(old); });
    hints->setMouseDoubleClickInterval(interval);
    QWidget window;
    auto* button = new QPushButton(QStringLiteral("Start"), &window);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&clicks] { ++clicks; });
    DoubleClickGuard::install(button);
    button->hide();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QElapsedTimer shown;
    button->show();
    shown.start();
    QTest::qWait(interval / 4);
    QTest::mouseClick(button, Qt::LeftButton);
    if (shown.elapsed() >= interval) {
        GTEST_SKIP() << "the machine was too busy to click within the interval";
    }
    EXPECT_EQ(clicks, 0);
    QTest::qWait(int(interval - shown.elapsed()) + 50);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}
