#include "ui/DoubleClickGuard.h"

#include <QEvent>
#include <QGuiApplication>
#include <QStyleHints>
#include <QWidget>
#include <QWindow>

#include <utility>

DoubleClickGuard::DoubleClickGuard(QWidget* button) : QObject(button) {}

void DoubleClickGuard::install(QWidget* button) {
    button->installEventFilter(new DoubleClickGuard(button));
}

bool DoubleClickGuard::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ShowToParent: {
        // Shown with its window, the button takes nobody's place.
        const QWindow* window = static_cast<QWidget*>(watched)->window()->windowHandle();
        if (window && window->isVisible()) {
            m_shown.start();
        }
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (m_shown.isValid() &&
            !m_shown.hasExpired(QGuiApplication::styleHints()->mouseDoubleClickInterval())) {
            m_ignoringPress = true;
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (std::exchange(m_ignoringPress, false)) {
            return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
