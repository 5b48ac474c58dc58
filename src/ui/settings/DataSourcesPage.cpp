#include "ui/settings/DataSourcesPage.h"

#include "ui/Look.h"

#include <QHBoxLayout>

using namespace SettingsForm;

DataSourcesPage::DataSourcesPage(SettingsViewModel& viewModel, QWidget* parent)
    : SettingsPage(viewModel, parent) {
    m_general = addSection(m_layout, true, false);
    m_existingYear = addSwitch(m_general.content, &AppSettings::setUseExistingYearTag);
    m_free = addSection(m_layout, true, false);
    m_musicBrainz = addSwitch(m_free.content, &AppSettings::setUseMusicBrainz);
    m_discogs = addSwitch(m_free.content, &AppSettings::setUseDiscogs);
    m_keyed = addSection(m_layout, true, false);
    m_lastFM = addSwitch(m_keyed.content, &AppSettings::setUseLastFM);
    m_lastFMKey = addCredential(m_keyed.content, &AppSettings::setLastFMApiKey, true, &m_clearLastFM);
    m_spotify = addSwitch(m_keyed.content, &AppSettings::setUseSpotify);
    // The Power User badge beside the Spotify switch.
    auto* spotifyRow = new QHBoxLayout;
    const int at = m_keyed.content->indexOf(m_spotify.box);
    m_keyed.content->removeWidget(m_spotify.box);
    spotifyRow->addWidget(m_spotify.box);
    m_badge = Look::plainLabel(nullptr);
    m_badge->setStyleSheet(QStringLiteral("QLabel { color: #ff8c00; background: rgba(255, 165, 0, 31); "
                                          "border-radius: 8px; padding: 2px 6px; }"));
    makeCaption(m_badge);
    spotifyRow->addWidget(m_badge);
    spotifyRow->addStretch(1);
    m_keyed.content->insertLayout(at, spotifyRow);
    m_spotifyId = addCredential(m_keyed.content, &AppSettings::setSpotifyClientId, false, &m_clearSpotifyId);
    m_spotifySecret =
        addCredential(m_keyed.content, &AppSettings::setSpotifyClientSecret, true, &m_clearSpotifySecret);
    m_layout->addStretch(1);
    retranslate();
    refresh();
}

DataSourcesPage::Switch DataSourcesPage::addSwitch(QVBoxLayout* layout, void (AppSettings::*setter)(bool)) {
    Switch row{new QCheckBox, makeNote()};
    layout->addWidget(row.box);
    layout->addWidget(row.note);
    connect(row.box, &QCheckBox::clicked, this, [this, setter](bool on) { (settings().*setter)(on); });
    return row;
}

QLineEdit* DataSourcesPage::addCredential(QVBoxLayout* layout, void (AppSettings::*setter)(const QString&),
                                          bool secret, QAction** clear) {
    // A visible label beside the field: once filled, a masked field no longer shows its placeholder.
    auto* field = new QLineEdit;
    auto* row = new QHBoxLayout;
    auto* label = Look::plainLabel(nullptr);
    label->setBuddy(field);
    row->addWidget(label);
    row->addWidget(field, 1);
    if (secret) {
        makeSecret(field);
    }
    *clear =
        field->addAction(Look::symbolIcon(QStringLiteral("xmark.circle.fill")), QLineEdit::TrailingPosition);
    connect(field, &QLineEdit::textEdited, this,
            [this, setter](const QString& typed) { (settings().*setter)(typed); });
    connect(*clear, &QAction::triggered, this, [this, setter] { (settings().*setter)(QString()); });
    layout->addLayout(row);
    return field;
}

QLabel* DataSourcesPage::credentialLabel(QLineEdit* field) const {
    // The label addCredential put before the field, found through its buddy.
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->buddy() == field) {
            return label;
        }
    }
    return nullptr;
}

void DataSourcesPage::refresh() {
    const AppSettings& s = settings();
    setChecked(m_existingYear.box, s.useExistingYearTag());
    setChecked(m_musicBrainz.box, s.useMusicBrainz());
    setChecked(m_discogs.box, s.useDiscogs());
    setChecked(m_lastFM.box, s.useLastFM());
    setChecked(m_spotify.box, s.useSpotify());
    const struct {
        QLineEdit* field;
        QAction* clear;
        QString value;
        bool shown;
    } credentials[] = {{m_lastFMKey, m_clearLastFM, s.lastFMApiKey(), s.useLastFM()},
                       {m_spotifyId, m_clearSpotifyId, s.spotifyClientId(), s.useSpotify()},
                       {m_spotifySecret, m_clearSpotifySecret, s.spotifyClientSecret(), s.useSpotify()}};
    for (const auto& credential : credentials) {
        setText(credential.field, credential.value);
        credential.field->setVisible(credential.shown);
        credentialLabel(credential.field)->setVisible(credential.shown);
        credential.clear->setVisible(!credential.value.isEmpty());
    }
    retranslate();
}

void DataSourcesPage::retranslate() {
    setText(m_general.header, text(QStringLiteral("Allgemein"), QStringLiteral("General")));
    setText(m_free.header,
            text(QStringLiteral("Kein API-Schlüssel erforderlich"), QStringLiteral("No API Key Required")));
    setText(m_keyed.header,
            text(QStringLiteral("API-Schlüssel erforderlich"), QStringLiteral("API Key Required")));
    setText(m_existingYear.box,
            text(QStringLiteral("Vorhandenes Jahr-Tag nutzen"), QStringLiteral("Use existing year tag")));
    setText(
        m_existingYear.note,
        text(QStringLiteral("Wenn ein gültiges Jahr-Tag vorhanden ist, wird dieses direkt verwendet – keine "
                            "externe Suche nötig."),
             QStringLiteral("If a valid year tag exists, it is used directly – no external lookup needed.")));
    setText(m_musicBrainz.box,
            text(QStringLiteral("MusicBrainz Datenbank nutzen"), QStringLiteral("Use MusicBrainz database")));
    setText(m_musicBrainz.note,
            text(QStringLiteral(
                     "Kostenlose offene Datenbank, kein API-Schlüssel erforderlich. Erste externe Quelle "
                     "für Jahr und Genre."),
                 QStringLiteral("Free open database, no API key required. First external source for year and "
                                "genre.")));
    setText(m_discogs.box, text(QStringLiteral("Discogs nutzen"), QStringLiteral("Use Discogs")));
    setText(
        m_discogs.note,
        text(QStringLiteral("Stark für elektronische Musik – liefert präzise Track-Genres wie \"Tech House\" "
                            "oder \"Deep House\". Kein API-Schlüssel erforderlich."),
             QStringLiteral(
                 "Strong for electronic music – returns precise track genres like \"Tech House\" or "
                 "\"Deep House\". No API key required.")));
    setText(m_lastFM.box, text(QStringLiteral("Last.fm nutzen"), QStringLiteral("Use Last.fm")));
    setText(m_lastFM.note,
            text(QStringLiteral("Nur Genre-Quelle (kein Jahr-Lookup). Kostenloser API-Schlüssel unter "
                                "www.last.fm/api/account/create."),
                 QStringLiteral(
                     "Genre source only (no year lookup). Free API key at www.last.fm/api/account/create.")));
    m_lastFMKey->setPlaceholderText(
        text(QStringLiteral("Last.fm API-Schlüssel"), QStringLiteral("Last.fm API Key")));
    m_clearLastFM->setToolTip(
        text(QStringLiteral("API-Schlüssel entfernen"), QStringLiteral("Remove API key")));
    setText(m_spotify.box, text(QStringLiteral("Spotify nutzen"), QStringLiteral("Use Spotify")));
    setText(m_badge, QStringLiteral("⚡ ") + text(QStringLiteral("Power-User"), QStringLiteral("Power User")));
    setText(
        m_spotify.note,
        text(QStringLiteral(
                 "Stark bei aktuellen Releases für die Jahres-Ermittlung. Eigene App-Registrierung "
                 "erforderlich (developer.spotify.com). Genres sind Künstler-Ebene – für Track-Genres "
                 "ist Discogs besser."),
             QStringLiteral("Strong for year lookup of current releases. Own app registration required "
                            "(developer.spotify.com). Genres are artist-level – for track genres Discogs is "
                            "better.")));
    m_spotifyId->setPlaceholderText(QStringLiteral("Client ID"));
    m_spotifySecret->setPlaceholderText(QStringLiteral("Client Secret"));
    setText(credentialLabel(m_lastFMKey), text(QStringLiteral("API-Schlüssel:"), QStringLiteral("API Key:")));
    setText(credentialLabel(m_spotifyId), QStringLiteral("Client ID:"));
    setText(credentialLabel(m_spotifySecret), QStringLiteral("Client Secret:"));
    // The Spotify clear buttons carry no tooltip.
    m_clearSpotifyId->setToolTip(QString());
    m_clearSpotifySecret->setToolTip(QString());
}
