#pragma once

#include "app/SplashScreenView.h"
#include "model/AppAppearance.h"
#include "ui/DisclaimerView.h"

#include <QMainWindow>
#include <QPointer>

#include <chrono>

class AppSettings;
class HelpView;
class QTabWidget;

// How long the start-up card stays fully visible and how long it fades.
struct SplashTimings {
    std::chrono::milliseconds hold{2000};
    std::chrono::milliseconds fade{600};
};

// The main window: the four tabs Manual Mode, Auto Mode, Settings and Help,
// the start-up card over them, the disclaimer gate and the appearance. A
// language change re-sets the texts in place; the screens stay as they are.
// Closing the window ends the program (quitRequested).
class ContentView : public QMainWindow {
    Q_OBJECT
public:
    enum class AppTab { manual, automatic, settings, help };

    explicit ContentView(AppSettings& settings, SplashTimings timings = {}, QWidget* parent = nullptr);
    ~ContentView() override;

    QTabWidget* tabs() const { return m_tabs; }
    QWidget* page(AppTab tab) const;
    HelpView* helpView() const { return m_help; }
    // The start-up card while it is shown, else null.
    SplashScreenView* splash() const { return m_splash; }
    // The disclaimer gate while it is open, else null.
    DisclaimerView* disclaimer() const { return m_disclaimer; }

public Q_SLOTS:
    void selectTab(ContentView::AppTab tab);
    // Shows the settings.
    void showSettingsWindow();
    void applyAppearance();
    void retranslate();
    void scheduleSplashDismissal();
    void fadeOutSplash();

Q_SIGNALS:
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void presentDisclaimerIfNeeded();

    AppSettings& m_settings;
    SplashTimings m_timings;
    QTabWidget* m_tabs = nullptr;
    HelpView* m_help = nullptr;
    QPointer<SplashScreenView> m_splash;
    QPointer<DisclaimerView> m_disclaimer;
    bool m_shownOnce = false;
    AppAppearance m_appliedAppearance = AppAppearance::system;
};
