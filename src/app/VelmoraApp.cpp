#include "app/VelmoraApp.h"

#include "app/AboutWindowController.h"
#include "app/UpdateAlert.h"
#include "model/AppLanguage.h"
#include "model/AppSettings.h"
#include "services/UpdateCheckService.h"
#include "ui/settings/SettingsWindow.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>

namespace {

// The pointer is hidden while a check runs and comes back on every path.
class HiddenCursor {
public:
    HiddenCursor() { QGuiApplication::setOverrideCursor(Qt::BlankCursor); }
    ~HiddenCursor() { QGuiApplication::restoreOverrideCursor(); }
    HiddenCursor(const HiddenCursor&) = delete;
    HiddenCursor& operator=(const HiddenCursor&) = delete;
};

} // namespace

VelmoraApp::VelmoraApp(SplashTimings timings, std::shared_ptr<const UpdateCheckService> updates,
                       QObject* parent)
    : QObject(parent), m_window(std::make_unique<ContentView>(AppSettings::shared(), timings)),
      m_updateService(updates ? std::move(updates) : std::make_shared<const UpdateCheckService>()) {
    m_menu = m_window->menuBar()->addMenu(QStringLiteral("Velmora"));
    m_menu->setObjectName(QStringLiteral("appMenu"));
    m_menu->addAction(QStringLiteral("Über Velmora"), this, &VelmoraApp::showAbout);
    m_updateAction = m_menu->addAction(QString(), this, &VelmoraApp::runUpdateCheck);
    m_menu->addSeparator();
    m_settingsAction = m_menu->addAction(QString(), this, &VelmoraApp::showSettingsWindow);
    // Ctrl+, as on other desktops; the platform's own key for preferences where it has one.
    QList<QKeySequence> preferences = QKeySequence::keyBindings(QKeySequence::Preferences);
    if (!preferences.contains(QKeySequence(Qt::CTRL | Qt::Key_Comma))) {
        preferences.prepend(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    }
    m_settingsAction->setShortcuts(preferences);
    m_quitAction = m_menu->addAction(QString(), m_window.get(), &ContentView::close);
    m_quitAction->setShortcut(QKeySequence::Quit);
    retranslate();
    connect(&AppSettings::shared(), &AppSettings::languageChanged, this, &VelmoraApp::retranslate);
}

VelmoraApp::~VelmoraApp() {
    // An open settings window goes with the program, so that its workers are
    // stopped and waited for rather than left running into the process's exit.
    delete SettingsWindow::instance();
    m_quitting.cancel();
}

void VelmoraApp::retranslate() {
    m_updateAction->setText(
        localizedText(QStringLiteral("Nach Updates suchen…"), QStringLiteral("Check for Updates…")));
    m_settingsAction->setText(localizedText(QStringLiteral("Einstellungen…"), QStringLiteral("Settings…")));
    m_quitAction->setText(localizedText(QStringLiteral("Velmora beenden"), QStringLiteral("Quit Velmora")));
}

void VelmoraApp::showAbout() {
    AboutWindowController::shared().show();
}

void VelmoraApp::showSettingsWindow() {
    m_window->showSettingsWindow();
}

void VelmoraApp::runUpdateCheck() {
    performUpdateCheck();
}

void VelmoraApp::performUpdateCheck() {
    // The cursor travels with the result, so it comes back on the main thread,
    // also when the program ends first and the result is dropped.
    m_checks.post([this, cursor = std::make_shared<HiddenCursor>(), service = m_updateService,
                   cancel = m_quitting]() mutable {
        const UpdateCheckResult result = service->checkForUpdates(cancel);
        m_checks.deliver([this, cursor = std::move(cursor), result]() mutable {
            cursor.reset();
            presentUpdateResult(result, m_window.get(), QUrl(Endpoints().updateDownload));
        });
    });
}
