#include "ui/settings/SettingsWindow.h"

#include "model/AppLanguage.h"
#include "model/AppSettings.h"
#include "ui/settings/SettingsView.h"
#include "ui/settings/SettingsViewModel.h"

#include <QPointer>
#include <QVBoxLayout>

namespace {

QPointer<SettingsWindow>& openWindow() {
    static QPointer<SettingsWindow> window;
    return window;
}

} // namespace

SettingsWindow::SettingsWindow()
    : QWidget(nullptr, Qt::Window), m_view(new SettingsView(AppSettings::shared())) {
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedWidth(480);
    resize(480, 640);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    connect(&AppSettings::shared(), &AppSettings::languageChanged, this, &SettingsWindow::retranslate);
    retranslate();
}

void SettingsWindow::showWindow() {
    QPointer<SettingsWindow>& window = openWindow();
    if (!window) {
        window = new SettingsWindow;
    }
    window->show();
    window->raise();
    window->activateWindow();
}

SettingsWindow* SettingsWindow::instance() {
    return openWindow().data();
}

void SettingsWindow::retranslate() {
    const QString title = localizedText(QStringLiteral("Einstellungen"), QStringLiteral("Settings"),
                                        m_view->viewModel().language());
    if (windowTitle() != title) {
        setWindowTitle(title);
    }
}
