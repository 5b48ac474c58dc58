#pragma once

#include <QWidget>

class SplashScreenView;

// The About window: one fixed 340×420 window showing the product card. It is
// made on first use, hidden (not destroyed) when closed, and shown again
// centred and in front by every show().
class AboutWindowController {
public:
    static AboutWindowController& shared();

    void show();
    QWidget* window() const { return m_window; }

private:
    AboutWindowController();
    QWidget* m_window = nullptr;
};
