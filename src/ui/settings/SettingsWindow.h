#pragma once

#include <QWidget>

class SettingsView;

// The one settings window: 480 wide, deleted when closed.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    // Opens the window, or raises it when it is open already.
    static void showWindow();
    // The open window, if any.
    static SettingsWindow* instance();

    SettingsView* view() const { return m_view; }

private:
    SettingsWindow();
    void retranslate();

    SettingsView* m_view;
};
