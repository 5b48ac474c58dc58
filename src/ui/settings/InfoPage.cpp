#include "ui/settings/InfoPage.h"

#include "model/AppVersion.h"
#include "model/DebugLogger.h"
#include "ui/DisclaimerView.h"
#include "ui/Look.h"
#include "ui/WebLinks.h"

#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QPixmap>
#include <QUrl>

using namespace SettingsForm;

namespace {

QHBoxLayout* valueRow(const QString& name, const QString& value) {
    auto* row = new QHBoxLayout;
    auto* nameLabel = new QLabel(name);
    auto* valueLabel = Look::plainLabel(nullptr, value);
    makeSecondary(valueLabel);
    row->addWidget(nameLabel);
    row->addStretch(1);
    row->addWidget(valueLabel);
    return row;
}

} // namespace

InfoPage::InfoPage(SettingsViewModel& viewModel, QWidget* parent) : SettingsPage(viewModel, parent) {
    m_debug = addSection(m_layout, true, true);
    m_logging = new QCheckBox;
    m_openLog = new QPushButton(Look::symbolIcon(QStringLiteral("doc.text.magnifyingglass")), QString());
    m_clearLog = new QPushButton(Look::symbolIcon(QStringLiteral("trash")), QString());
    for (QPushButton* button : {m_openLog, m_clearLog}) {
        button->setFlat(true);
    }
    Look::setTextColor(m_clearLog, Qt::red);
    m_debug.content->addWidget(m_logging);
    m_debug.content->addWidget(m_openLog, 0, Qt::AlignLeft);
    m_debug.content->addWidget(m_clearLog, 0, Qt::AlignLeft);
    connect(m_logging, &QCheckBox::clicked, this, [this](bool on) { settings().setDebugLogging(on); });
    connect(m_openLog, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl::fromLocalFile(DebugLogger::shared().logFileURL())); });
    connect(m_clearLog, &QPushButton::clicked, this, [] { DebugLogger::shared().clearLog(); });

    m_app = addSection(m_layout, true, false);
    m_app.content->addLayout(valueRow(QStringLiteral("Version"), appVersionString()));
    m_app.content->addLayout(valueRow(QStringLiteral("Build"), appBuildString()));
    m_disclaimer = new QPushButton(Look::symbolIcon(QStringLiteral("exclamationmark.shield")), QString());
    m_disclaimer->setFlat(true);
    m_app.content->addWidget(m_disclaimer, 0, Qt::AlignLeft);
    connect(m_disclaimer, &QPushButton::clicked, this, [this] {
        // The reading form: only Close; it never touches the stored acceptance.
        auto* dialog = new DisclaimerView(false, window());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowModality(Qt::WindowModal);
        dialog->open();
    });

    const struct {
        const char* section;
        TextPair title;
        const char* url;
    } links[] = {
        {"MusicBrainz", {"MusicBrainz Website", "MusicBrainz Website"}, "https://musicbrainz.org"},
        {nullptr,
         {"MusicBrainz API Dokumentation", "MusicBrainz API Documentation"},
         "https://musicbrainz.org/doc/MusicBrainz_API"},
        {"Last.fm", {"Last.fm Website", "Last.fm Website"}, "https://www.last.fm"},
        {nullptr, {"Last.fm API Dokumentation", "Last.fm API Documentation"}, "https://www.last.fm/api"},
        {nullptr,
         {"Last.fm API-Schlüssel erstellen", "Create Last.fm API Key"},
         "https://www.last.fm/api/account/create"},
        {"Spotify",
         {"Spotify Developer Dashboard", "Spotify Developer Dashboard"},
         "https://developer.spotify.com/dashboard"},
        {nullptr,
         {"Spotify API Dokumentation", "Spotify API Documentation"},
         "https://developer.spotify.com/documentation/web-api"},
        {"Discogs", {"Discogs Website", "Discogs Website"}, "https://www.discogs.com"},
        {nullptr,
         {"Discogs API Dokumentation", "Discogs API Documentation"},
         "https://www.discogs.com/developers"},
    };
    Section linkSection;
    for (const auto& link : links) {
        if (link.section != nullptr) {
            linkSection = addSection(m_layout, true, false);
            linkSection.header->setText(QString::fromLatin1(link.section));
        }
        auto* button = new QPushButton;
        button->setFlat(true);
        button->setIcon(Look::symbolIcon(QStringLiteral("arrow.up.right")));
        button->setLayoutDirection(Qt::RightToLeft); // the arrow after the text
        button->setToolTip(QString::fromLatin1(link.url));
        linkSection.content->addWidget(button, 0, Qt::AlignLeft | Qt::AlignAbsolute);
        const QUrl url(QString::fromLatin1(link.url));
        connect(button, &QPushButton::clicked, this, [url] { WebLinks::open(url); });
        m_links.append({button, link.title});
    }

    auto* powered = new QLabel(QStringLiteral("Powered by"));
    makeCaption(powered);
    makeSecondary(powered);
    auto* logo = new QLabel;
    logo->setObjectName(QStringLiteral("logo"));
    m_layout->addSpacing(8);
    m_layout->addWidget(powered, 0, Qt::AlignHCenter);
    m_layout->addSpacing(6);
    m_layout->addWidget(logo, 0, Qt::AlignHCenter);
    m_layout->addSpacing(8);
    m_layout->addStretch(1);
    colourLinks();
    retranslate();
    refresh();
}

// The links and the logo in the colours of the palette in force.
void InfoPage::colourLinks() {
    if (auto* logo = findChild<QLabel*>(QStringLiteral("logo"))) {
        const QPixmap pixmap = Look::makerLogo(palette());
        logo->setPixmap(pixmap.width() > 260 ? pixmap.scaledToWidth(260, Qt::SmoothTransformation) : pixmap);
    }
    const QColor link = palette().color(QPalette::Link);
    Look::setTextColor(m_openLog, link);
    for (const Link& entry : m_links) {
        Look::setTextColor(entry.button, link);
    }
}

void InfoPage::changeEvent(QEvent* event) {
    SettingsPage::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        colourLinks();
    }
}

void InfoPage::refresh() {
    const bool on = settings().debugLogging();
    setChecked(m_logging, on);
    m_openLog->setVisible(on);
    m_clearLog->setVisible(on);
    retranslate();
}

void InfoPage::retranslate() {
    setText(m_debug.header, QStringLiteral("Debug"));
    setText(
        m_debug.footer,
        text(QStringLiteral(
                 "Das Log enthält Details zu jedem Verarbeitungsschritt, API-Aufrufen und Fehlern."),
             QStringLiteral("The log contains details about each processing step, API calls, and errors.")));
    setText(m_logging, text(QStringLiteral("Debug-Log aktivieren"), QStringLiteral("Enable Debug Log")));
    setText(m_openLog, text(QStringLiteral("Log-Datei öffnen"), QStringLiteral("Open Log File")));
    setText(m_clearLog, text(QStringLiteral("Log löschen"), QStringLiteral("Clear Log")));
    setText(m_app.header, QStringLiteral("App"));
    // "&&": a lone "&" would mark a keyboard shortcut.
    setText(m_disclaimer, text(QStringLiteral("Haftungsausschluss && Nutzungshinweise"),
                               QStringLiteral("Disclaimer && Usage Notice")));
    for (const Link& link : m_links) {
        setText(link.button, text(link.title.de, link.title.en));
    }
}
