#pragma once

#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsPage.h"

#include <QAction>

// The Data Sources tab: the lookup sources on and off, with the user's own
// Last.fm key and Spotify application credentials.
class DataSourcesPage : public SettingsPage {
    Q_OBJECT

public:
    explicit DataSourcesPage(SettingsViewModel& viewModel, QWidget* parent = nullptr);

    void refresh() override;
    void retranslate() override;

    QLineEdit* lastFMKeyField() const { return m_lastFMKey; }

private:
    struct Switch {
        QCheckBox* box;
        QLabel* note;
    };
    Switch addSwitch(QVBoxLayout* layout, void (AppSettings::*setter)(bool));
    QLineEdit* addCredential(QVBoxLayout* layout, void (AppSettings::*setter)(const QString&), bool secret,
                             QAction** clear);
    QLabel* credentialLabel(QLineEdit* field) const;

    SettingsForm::Section m_general;
    SettingsForm::Section m_free;
    SettingsForm::Section m_keyed;
    Switch m_existingYear;
    Switch m_musicBrainz;
    Switch m_discogs;
    Switch m_lastFM;
    Switch m_spotify;
    QLabel* m_badge;
    QLineEdit* m_lastFMKey;
    QLineEdit* m_spotifyId;
    QLineEdit* m_spotifySecret;
    QAction* m_clearLastFM;
    QAction* m_clearSpotifyId;
    QAction* m_clearSpotifySecret;
};
