#pragma once

#include "app/ContentView.h"
#include "services/BackgroundWork.h"
#include "services/CancelToken.h"

#include <QObject>

#include <memory>

class QAction;
class QMenu;
class UpdateCheckService;

// The application: the main window with its one menu "Velmora" (About,
// update check, settings, quit) and the menu's actions. Update checks run on
// a worker; destroying the application cancels them and waits.
class VelmoraApp : public QObject {
    Q_OBJECT
public:
    // `updates` defaults to the product's own feed.
    explicit VelmoraApp(SplashTimings timings = {}, std::shared_ptr<const UpdateCheckService> updates = {},
                        QObject* parent = nullptr);
    ~VelmoraApp() override;

    ContentView* mainWindow() const { return m_window.get(); }
    QMenu* appMenu() const { return m_menu; }

public Q_SLOTS:
    void showAbout();
    // Starts a check and returns at once; the outcome appears in a message box.
    void runUpdateCheck();
    void showSettingsWindow();
    void retranslate();

private:
    void performUpdateCheck();

    std::unique_ptr<ContentView> m_window;
    QMenu* m_menu = nullptr;
    QAction* m_updateAction = nullptr;
    QAction* m_settingsAction = nullptr;
    QAction* m_quitAction = nullptr;
    std::shared_ptr<const UpdateCheckService> m_updateService;
    CancelToken m_quitting;
    // Declared last: ending it waits for the checks still running.
    BackgroundWork m_checks{{4}};
};
