#pragma once

#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsPage.h"

#include <QPushButton>

// The Info tab: the debug log switch with its two actions, version and build,
// links to the outside services' pages, and the maker's logo.
class InfoPage : public SettingsPage {
    Q_OBJECT

public:
    explicit InfoPage(SettingsViewModel& viewModel, QWidget* parent = nullptr);
    void refresh() override;
    void retranslate() override;

    QPushButton* disclaimerButton() const { return m_disclaimer; }

protected:
    void changeEvent(QEvent* event) override;

private:
    // The link colour of the palette in use, again after a switch between light and dark.
    void colourLinks();

    struct Link {
        QPushButton* button;
        TextPair title;
    };

    SettingsForm::Section m_debug;
    SettingsForm::Section m_app;
    QCheckBox* m_logging;
    QPushButton* m_openLog;
    QPushButton* m_clearLog;
    QPushButton* m_disclaimer;
    QList<Link> m_links;
};
