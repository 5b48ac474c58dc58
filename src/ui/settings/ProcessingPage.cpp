#include "ui/settings/ProcessingPage.h"

#include <QFormLayout>
#include <QHBoxLayout>

using namespace SettingsForm;

Stepper::Stepper(QWidget* parent)
    : QWidget(parent), m_label(new QLabel), m_down(new QToolButton), m_up(new QToolButton) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    m_label->setTextFormat(Qt::PlainText);
    m_down->setText(QStringLiteral("−"));
    m_up->setText(QStringLiteral("+"));
    row->addWidget(m_label, 1);
    row->addWidget(m_down);
    row->addWidget(m_up);
    connect(m_down, &QToolButton::clicked, this, [this] { Q_EMIT stepped(-1); });
    connect(m_up, &QToolButton::clicked, this, [this] { Q_EMIT stepped(1); });
}

void Stepper::display(const QString& label, int value, int min, int max) {
    setText(m_label, label);
    m_down->setEnabled(value > min);
    m_up->setEnabled(value < max);
}

ProcessingPage::ProcessingPage(SettingsViewModel& viewModel, QWidget* parent)
    : SettingsPage(viewModel, parent) {
    m_steppers = addSection(m_layout, false, false);
    m_concurrency = new Stepper;
    m_timeout = new Stepper;
    m_steppers.content->addWidget(m_concurrency);
    m_steppers.content->addWidget(m_timeout);
    connect(m_concurrency, &Stepper::stepped, this,
            [this](int direction) { m_vm.stepConcurrency(direction); });
    connect(m_timeout, &Stepper::stepped, this, [this](int direction) { m_vm.stepTimeout(direction); });
    m_repairSection = addSection(m_layout, true, false);
    m_repair = new QCheckBox;
    m_repairNote = makeNote();
    m_repairSection.content->addWidget(m_repair);
    m_repairSection.content->addWidget(m_repairNote);
    connect(m_repair, &QCheckBox::clicked, this,
            [this](bool on) { settings().setRepairBrokenTagStructure(on); });
    m_layout->addStretch(1);
    retranslate();
    refresh();
}

void ProcessingPage::refresh() {
    setChecked(m_repair, settings().repairBrokenTagStructure());
    retranslate();
}

void ProcessingPage::retranslate() {
    // What runs use: the stored count bound to 1..10.
    const int concurrency = settings().currentSnapshot()->boundedConcurrency();
    const int timeout = settings().requestTimeoutSeconds();
    m_concurrency->display(
        text(QStringLiteral("Gleichzeitige Anfragen: "), QStringLiteral("Concurrent requests: ")) +
            QString::number(concurrency),
        concurrency, 1, 10);
    m_concurrency->setToolTip(
        text(QStringLiteral("Höhere Werte beschleunigen die Verarbeitung, belasten aber die API stärker."),
             QStringLiteral("Higher values speed up processing but put more load on the API.")));
    m_timeout->display(QStringLiteral("Timeout: ") + QString::number(timeout) +
                           text(QStringLiteral(" Sekunden"), QStringLiteral(" seconds")),
                       timeout, 10, 120);
    m_timeout->setToolTip(text(QStringLiteral("Maximale Wartezeit pro Anfrage."),
                               QStringLiteral("Maximum wait time per request.")));
    setText(m_repairSection.header, text(QStringLiteral("Tag-Reparatur"), QStringLiteral("Tag Repair")));
    setText(m_repair, text(QStringLiteral("Defekte Tag-Struktur reparieren"),
                           QStringLiteral("Repair broken tag structure")));
    setText(
        m_repairNote,
        text(QStringLiteral("Erkennt vertauschte Felder (z.B. Titelnummer statt Interpret) und schreibt die "
                            "korrigierten Werte beim nächsten Genre-Update zurück in die Datei."),
             QStringLiteral(
                 "Detects swapped fields (e.g. track number instead of artist) and writes the corrected "
                 "values back to the file on the next genre update.")));
}

AppearancePage::AppearancePage(SettingsViewModel& viewModel, QWidget* parent)
    : SettingsPage(viewModel, parent) {
    m_appearanceSection = addSection(m_layout, true, true);
    auto* appearanceForm = new QFormLayout;
    m_appearanceLabel = new QLabel;
    m_appearance = new QComboBox;
    for (AppAppearance appearance : allAppAppearances()) {
        m_appearance->addItem(QString(), static_cast<int>(appearance));
    }
    appearanceForm->addRow(m_appearanceLabel, m_appearance);
    m_appearanceSection.content->addLayout(appearanceForm);
    connect(m_appearance, &QComboBox::activated, this, [this](int index) {
        settings().setAppearance(static_cast<AppAppearance>(m_appearance->itemData(index).toInt()));
    });

    m_languageSection = addSection(m_layout, true, true);
    auto* languageForm = new QFormLayout;
    m_languageLabel = new QLabel;
    m_language = new QComboBox;
    // The language names read the same in every language.
    m_language->addItem(QStringLiteral("Systemsprache / System Language"),
                        static_cast<int>(AppLanguage::system));
    m_language->addItem(QStringLiteral("Deutsch"), static_cast<int>(AppLanguage::german));
    m_language->addItem(QStringLiteral("English"), static_cast<int>(AppLanguage::english));
    languageForm->addRow(m_languageLabel, m_language);
    m_languageSection.content->addLayout(languageForm);
    connect(m_language, &QComboBox::activated, this, [this](int index) {
        settings().setAppLanguage(static_cast<AppLanguage>(m_language->itemData(index).toInt()));
    });
    m_layout->addStretch(1);
    retranslate();
    refresh();
}

void AppearancePage::refresh() {
    setCurrentData(m_appearance, static_cast<int>(settings().appearance()));
    setCurrentData(m_language, static_cast<int>(settings().appLanguage()));
    retranslate();
}

void AppearancePage::retranslate() {
    const AppLanguage language = m_vm.language();
    setText(m_appearanceSection.header,
            text(QStringLiteral("Erscheinungsbild"), QStringLiteral("Appearance")));
    setText(m_appearanceLabel, text(QStringLiteral("Erscheinungsbild"), QStringLiteral("Appearance")));
    setText(
        m_appearanceSection.footer,
        text(
            QStringLiteral("Legt fest ob die App hell, dunkel oder nach Systemeinstellung dargestellt wird."),
            QStringLiteral("Sets whether the app is displayed in light, dark, or system default mode.")));
    for (int i = 0; i < m_appearance->count(); ++i) {
        const QString name =
            displayName(static_cast<AppAppearance>(m_appearance->itemData(i).toInt()), language);
        if (m_appearance->itemText(i) != name) {
            m_appearance->setItemText(i, name);
        }
    }
    setText(m_languageSection.header, QStringLiteral("Sprache / Language"));
    setText(m_languageLabel, text(QStringLiteral("Sprache"), QStringLiteral("Language")));
    setText(m_languageSection.footer, text(QStringLiteral("Die Änderung wird sofort übernommen."),
                                           QStringLiteral("The change takes effect immediately.")));
}
