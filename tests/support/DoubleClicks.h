#pragma once

#include "TestHelpers.h"

#include <QGuiApplication>
#include <QStyleHints>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <functional>

// Waits out the double-click interval: a button that has just taken
// another's place takes a click again.
inline void waitPastDoubleClick() {
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 1);
}

// A double-click at `spot` of `window` as the platform delivers one whose
// second click comes `gapMs` after the first: press and release; then, the
// application running meanwhile, press (also delivered as a double-click)
// and release. `beforeSecond` runs once `gapMs` have passed and may wait for
// the screen to settle. From the first click to the end the double-click
// interval is a hang's time, so that the second click falls within it also
// on a busy machine; it is put back at the end.
inline void slowDoubleClick(QWidget& window, QPoint spot, int gapMs,
                            const std::function<void()>& beforeSecond = {}) {
    QWindow* handle = window.windowHandle();
    const QPointF global = handle->mapToGlobal(QPointF(spot));
    int& time = QTest::lastMouseTimestamp;
    const auto click = [&] {
        qt_handleMouseEvent(handle, spot, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress, {},
                            ++time);
        qt_handleMouseEvent(handle, spot, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease, {},
                            ++time);
    };
    QStyleHints* hints = QGuiApplication::styleHints();
    const int interval = hints->mouseDoubleClickInterval();
    click();
    hints->setMouseDoubleClickInterval(hangMs);
    QTest::qWait(gapMs);
    if (beforeSecond) {
        beforeSecond();
    }
    time += gapMs;
    click();
    hints->setMouseDoubleClickInterval(interval);
    // A later click starts a click of its own.
    time += QTest::mouseDoubleClickInterval;
    QCoreApplication::processEvents();
}
