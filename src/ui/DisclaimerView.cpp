#include "ui/DisclaimerView.h"

#include "model/AppLanguage.h"
#include "model/AppSettings.h"
#include "model/Console.h"
#include "services/Endpoints.h"
#include "ui/Look.h"
#include "ui/WebLinks.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

struct Notice {
    const char* symbol;
    const char* headingDe;
    const char* headingEn;
    const char* textDe;
    const char* textEn;
};

const Notice notices[] = {
    {"externaldrive.fill", "Datensicherung – Pflichthinweis", "Data Backup – Important Notice",
     "Erstelle vor jeder Nutzung von Velmora ein vollständiges Backup deiner Musikdateien. Velmora schreibt "
     "Metadaten direkt in deine Audiodateien. Dateien, die dabei beschädigt oder ungewollt verändert werden, "
     "kann "
     "das Programm nicht wiederherstellen. Für die Sicherung deiner Daten bist allein du verantwortlich.",
     "Before using Velmora, create a complete backup of all your music files. Velmora writes metadata "
     "directly "
     "into your audio files. Files that end up corrupted, damaged or changed unintentionally cannot be "
     "restored "
     "by the application. Keeping your data safe is your responsibility alone."},
    {"shield.slash.fill", "Haftungsbeschränkung", "Limitation of Liability",
     "Orvek übernimmt keinerlei Haftung für Datenverlust, Datenbeschädigung, Dateikorruption oder sonstige "
     "Schäden, die durch die Nutzung von Velmora entstehen, unabhängig davon, ob diese direkt, indirekt oder "
     "mittelbar verursacht wurden. Das gilt auch für Schäden durch Softwarefehler, durch abgebrochene "
     "Verbindungen "
     "zu externen Diensten (MusicBrainz, Last.fm, KI-Anbieter) und durch Systemausfälle.",
     "Orvek assumes no liability whatsoever for data loss, data corruption, file damage, or any other harm "
     "resulting from the use of Velmora, whether caused directly, indirectly, or consequentially. This "
     "includes "
     "damage caused by software errors, by interrupted connections to external services (MusicBrainz, "
     "Last.fm, "
     "AI providers) and by system failures."},
    {"network", "Drittanbieter-Dienste", "Third-Party Services",
     "Velmora kommuniziert auf Wunsch des Nutzers mit externen Diensten (MusicBrainz, Spotify, Discogs, "
     "Last.fm, "
     "Anthropic, OpenAI, Ollama, LM Studio oder ein selbst eingetragener Server). Orvek ist nicht "
     "verantwortlich "
     "für Verfügbarkeit, Richtigkeit oder Datenschutz dieser Dienste. Cloud-KI-Dienste, die du mit deinem "
     "eigenen "
     "API-Schlüssel nutzt, können beim Anbieter Kosten verursachen, die allein du trägst. Es gelten die "
     "Nutzungsbedingungen und Datenschutzrichtlinien des jeweiligen Anbieters.",
     "At the user's discretion, Velmora communicates with external services (MusicBrainz, Spotify, Discogs, "
     "Last.fm, Anthropic, OpenAI, Ollama, LM Studio or a server you enter yourself). Orvek is not "
     "responsible for "
     "the availability, accuracy or data privacy of these services. Cloud AI services used with your own API "
     "key "
     "may cost money at the provider, which you alone bear. The terms of service and privacy policy of each "
     "provider apply."},
    {"c.circle.fill", "Urheberrecht", "Copyright",
     "Velmora, sein Name, sein Logo und seine Oberfläche sind urheberrechtlich geschützte Werke von Orvek. "
     "Die "
     "Software darf nicht verkauft, verändert weitergegeben oder als eigenes Werk ausgegeben werden. Namen "
     "anderer Dienste gehören ihren jeweiligen Inhabern und dienen nur der Beschreibung.",
     "Velmora, its name, logo and user interface are works of Orvek protected by copyright. The software may "
     "not be sold, passed on in altered form or presented as someone else's work. Names of other services "
     "belong "
     "to their respective owners and are used for description only."},
};

QString siteLink() {
    const QString domain = Endpoints::webDomain();
    return QStringLiteral("[%1](https://%1/?ref=app)").arg(domain);
}

} // namespace

bool hasAcceptedDisclaimer() {
    const auto value = AppSettings::shared().store().object(QLatin1String(disclaimerAcceptedKey));
    return value && value->isBool() && value->toBool();
}

DisclaimerView::DisclaimerView(bool isModal, QWidget* parent) : QDialog(parent), m_isModal(isModal) {
    setObjectName(QStringLiteral("disclaimer"));
    setFixedSize(580, 600);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // Header
    auto* header = new QHBoxLayout;
    header->setContentsMargins(24, 16, 24, 16);
    header->setSpacing(12);
    header->addWidget(Look::symbolLabel(nullptr, QStringLiteral("exclamationmark.shield.fill"), 28));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    QLabel* title = addText(QStringLiteral("Haftungsausschluss & Nutzungshinweise"),
                            QStringLiteral("Disclaimer & Usage Notice"));
    const QFont bold = Look::headline(title->font());
    title->setFont(bold);
    titles->addWidget(title);
    auto* subtitle = new QLabel(QStringLiteral("Velmora · Orvek"));
    subtitle->setTextFormat(Qt::MarkdownText);
    subtitle->setForegroundRole(QPalette::PlaceholderText);
    titles->addWidget(subtitle);
    header->addLayout(titles);
    header->addStretch();
    root->addLayout(header);
    root->addWidget(Look::divider(nullptr, Qt::Horizontal));

    // Notices
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* content = new QWidget;
    auto* sections = new QVBoxLayout(content);
    sections->setContentsMargins(24, 24, 24, 24);
    sections->setSpacing(20);
    for (const Notice& notice : notices) {
        auto* card = new QFrame;
        card->setAutoFillBackground(true);
        card->setBackgroundRole(QPalette::Base);
        card->setFrameShape(QFrame::StyledPanel);
        auto* cardLayout = new QVBoxLayout(card);
        cardLayout->setContentsMargins(14, 14, 14, 14);
        cardLayout->setSpacing(8);
        auto* headingRow = new QHBoxLayout;
        headingRow->setSpacing(8);
        headingRow->addWidget(Look::symbolLabel(nullptr, QString::fromLatin1(notice.symbol), 16));
        QLabel* heading = addText(QString::fromUtf8(notice.headingDe), QString::fromUtf8(notice.headingEn));
        heading->setFont(bold);
        headingRow->addWidget(heading, 1);
        cardLayout->addLayout(headingRow);
        QLabel* text = addText(QString::fromUtf8(notice.textDe), QString::fromUtf8(notice.textEn));
        text->setWordWrap(true);
        cardLayout->addWidget(text);
        sections->addWidget(card);
    }
    auto* rights = new QLabel;
    rights->setObjectName(QStringLiteral("rightsLine"));
    rights->setTextFormat(Qt::MarkdownText);
    rights->setAlignment(Qt::AlignHCenter);
    rights->setWordWrap(true);
    rights->setForegroundRole(QPalette::PlaceholderText);
    rights->setContentsMargins(0, 4, 0, 0);
    connect(rights, &QLabel::linkActivated, this, [](const QString& link) { WebLinks::open(QUrl(link)); });
    m_texts.emplace_back([rights] { rights->setText(Look::rightsLine() + QLatin1Char(' ') + siteLink()); });
    sections->addWidget(rights);
    sections->addStretch();
    scroll->setWidget(content);
    root->addWidget(scroll, 1);
    root->addWidget(Look::divider(nullptr, Qt::Horizontal));

    // Footer
    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(24, 16, 24, 16);
    QPushButton* button = new QPushButton;
    button->setObjectName(m_isModal ? QStringLiteral("accept") : QStringLiteral("close"));
    button->setDefault(true);
    if (m_isModal) {
        QLabel* confirm = addText(
            QStringLiteral(
                "Mit \"Akzeptieren\" bestätigst du, dass du diese Hinweise gelesen und verstanden hast."),
            QStringLiteral(
                "By clicking \"Accept\" you confirm that you have read and understood these notices."));
        confirm->setWordWrap(true);
        confirm->setForegroundRole(QPalette::PlaceholderText);
        footer->addWidget(confirm, 1);
        m_texts.emplace_back([button] {
            button->setText(localizedText(QStringLiteral("Akzeptieren"), QStringLiteral("Accept")));
        });
        connect(button, &QPushButton::clicked, this, &DisclaimerView::accept);
    } else {
        footer->addStretch();
        m_texts.emplace_back([button] {
            button->setText(localizedText(QStringLiteral("Schließen"), QStringLiteral("Close")));
        });
        connect(button, &QPushButton::clicked, this, &DisclaimerView::reject);
    }
    footer->addWidget(button);
    root->addLayout(footer);

    retranslate();
    connect(&AppSettings::shared(), &AppSettings::languageChanged, this, &DisclaimerView::retranslate);
}

QLabel* DisclaimerView::addText(const QString& german, const QString& english) {
    auto* label = Look::plainLabel(nullptr);
    m_texts.emplace_back([label, german, english] { label->setText(localizedText(german, english)); });
    return label;
}

void DisclaimerView::retranslate() {
    for (const auto& apply : m_texts) {
        apply();
    }
}

void DisclaimerView::accept() {
    if (m_isModal) {
        SettingsStore& store = AppSettings::shared().store();
        store.setBool(QLatin1String(disclaimerAcceptedKey), true);
        // The acceptance ends the gate for this start even when it cannot be saved.
        if (!store.commit()) {
            Console::line(QStringLiteral("[App] The disclaimer acceptance could not be saved"));
        }
    }
    QDialog::accept();
}

void DisclaimerView::reject() {
    // The notice at start is left only by accepting it.
    if (!m_isModal) {
        QDialog::reject();
    }
}

void DisclaimerView::closeEvent(QCloseEvent* event) {
    if (m_isModal && isVisible()) {
        QDialog::reject();
        event->accept();
        Q_EMIT closedWithoutAccepting();
        return;
    }
    QDialog::closeEvent(event);
}
