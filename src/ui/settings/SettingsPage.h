#pragma once

#include "ui/settings/SettingsViewModel.h"

#include <QVBoxLayout>
#include <QWidget>

// One tab of the settings screen. `refresh` shows the settings and the
// screen's state as they are now; `retranslate` re-sets every text in place.
// Neither writes a setting: only the user's own actions do.
class SettingsPage : public QWidget {
    Q_OBJECT

public:
    explicit SettingsPage(SettingsViewModel& viewModel, QWidget* parent = nullptr)
        : QWidget(parent), m_vm(viewModel), m_layout(new QVBoxLayout(this)) {}

    virtual void refresh() = 0;
    virtual void retranslate() = 0;

protected:
    // The German or the English text by the language of this screen's settings.
    QString text(const QString& german, const QString& english) const {
        return localizedText(german, english, m_vm.language());
    }
    AppSettings& settings() { return m_vm.settings(); }

    SettingsViewModel& m_vm;
    QVBoxLayout* m_layout;
};
