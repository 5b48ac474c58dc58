#include "ui/DoubleClickGuard.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyleHints>
#include <QTest>

#include <gtest/gtest.h>

// A button that has just taken another's place ignores clicks for the platform's whole
// double-click interval, not a part of it, counted from each time it is shown: a second click a
// user makes late in the interval must not start or undo a run. Here the interval is 2 s; at each
// showing a click after three quarters of it is ignored (a guard half as long, or one counted
// from the first showing, would take it), one after all of it is taken.
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
    for (int showing = 1; showing <= 2; ++showing) {
        button->hide();
        // The guard starts counting inside show(), which takes long on a busy machine: an early
        // click is timed from before it, so it is inside the guard's interval, and a late one
        // from after it, so it is past.
        QElapsedTimer beforeShow;
        beforeShow.start();
        button->show();
        QElapsedTimer afterShow;
        afterShow.start();
        QTest::qWait(interval * 3 / 4);
        QTest::mouseClick(button, Qt::LeftButton);
        if (beforeShow.elapsed() >= interval) {
            GTEST_SKIP() << "the machine was too busy to click within the interval";
        }
        EXPECT_EQ(clicks, showing - 1) << "showing " << showing;
        QTest::qWait(int(interval - afterShow.elapsed()) + 50);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(clicks, showing) << "showing " << showing;
    }
}
