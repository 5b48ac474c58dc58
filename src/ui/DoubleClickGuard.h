#pragma once

#include <QElapsedTimer>
#include <QObject>

class QWidget;

// Keeps a button that takes another's place (Start and Cancel in one spot,
// Problems or Undo where Cancel was) from taking the second click of a
// double-click meant for the one before it: once shown while its window is
// on screen, it ignores presses and double-clicks, and the releases that end
// them, for the platform's double-click interval. A click after that works
// as ever; clicks from code and keys are not held back.
class DoubleClickGuard : public QObject {
public:
    // Guards `button` for as long as it lives.
    static void install(QWidget* button);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit DoubleClickGuard(QWidget* button);

    QElapsedTimer m_shown; // since the button was last shown; invalid before
    bool m_ignoringPress = false; // a press was ignored: so is its release
};
