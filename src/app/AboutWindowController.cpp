#include "app/AboutWindowController.h"

#include "app/Appearance.h"
#include "app/SplashScreenView.h"
#include "model/AppSettings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

AboutWindowController& AboutWindowController::shared() {
    // Never destroyed: the window must not outlive the application object,
    // and the process ends right after the main window closes.
    static AboutWindowController* controller = new AboutWindowController;
    return *controller;
}

AboutWindowController::AboutWindowController() {
    m_window = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                        Qt::CustomizeWindowHint);
    m_window->setObjectName(QStringLiteral("aboutWindow"));
    m_window->setWindowTitle(QString());
    m_window->setFixedSize(SplashScreenView::cardWidth, SplashScreenView::cardHeight);
    auto* layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new SplashScreenView(true, m_window));
    QObject::connect(&AppSettings::shared(), &AppSettings::languageChanged, m_window,
                     [w = m_window] { w->update(); });
}

void AboutWindowController::show() {
    const AppAppearance appearance = AppSettings::shared().appearance();
    if (appearance == AppAppearance::system) {
        m_window->setPalette(QPalette());
    } else {
        m_window->setPalette(paletteFor(appearance));
    }
    const QScreen* screen =
        m_window->screen() != nullptr ? m_window->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        QRect frame = m_window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}
