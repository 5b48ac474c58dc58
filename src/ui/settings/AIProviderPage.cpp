#include "ui/settings/AIProviderPage.h"

#include "ui/Look.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QProgressBar>

using namespace SettingsForm;

namespace {

// A small indeterminate progress bar.
QProgressBar* busyBar() {
    auto* bar = new QProgressBar;
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(40, 8);
    return bar;
}

} // namespace

QString AIProviderPage::defaultModel(AIProviderType provider) {
    SettingsSnapshot snapshot;
    snapshot.selectedProvider = provider;
    return snapshot.effectiveModelName();
}

AIProviderPage::AIProviderPage(SettingsViewModel& viewModel, QWidget* parent)
    : SettingsPage(viewModel, parent) {
    m_section = addSection(m_layout, false, true);
    auto* form = new QFormLayout;
    m_section.content->addLayout(form);

    m_providerLabel = new QLabel;
    m_provider = new QComboBox;
    for (AIProviderType provider : allAIProviderTypes()) {
        m_provider->addItem(QString(), static_cast<int>(provider));
    }
    form->addRow(m_providerLabel, m_provider);
    connect(m_provider, &QComboBox::activated, this, [this](int index) {
        settings().setSelectedProvider(static_cast<AIProviderType>(m_provider->itemData(index).toInt()));
    });

    m_keyLabel = new QLabel;
    m_key = new QLineEdit;
    makeSecret(m_key);
    form->addRow(m_keyLabel, m_key);
    connect(m_key, &QLineEdit::textEdited, this,
            [this](const QString& typed) { settings().setApiKey(typed); });

    // The model row: loading, a free field, or the fetched list.
    m_modelLabel = new QLabel;
    m_modelRow = new QStackedWidget;
    m_loading = new QLabel;
    makeSecondary(m_loading);
    m_modelField = new QLineEdit;
    m_modelPicker = new QComboBox;
    auto* loadingPage = new QWidget;
    auto* loadingRow = new QHBoxLayout(loadingPage);
    loadingRow->setContentsMargins(0, 0, 0, 0);
    loadingRow->addWidget(busyBar());
    loadingRow->addWidget(m_loading, 1);
    m_modelRow->addWidget(loadingPage);
    m_modelRow->addWidget(m_modelField);
    m_modelRow->addWidget(m_modelPicker);
    m_fetch = new QToolButton;
    m_fetch->setIcon(Look::symbolIcon(QStringLiteral("arrow.clockwise")));
    m_fetch->setAutoRaise(true);
    auto* modelRow = new QHBoxLayout;
    modelRow->addWidget(m_modelRow, 1);
    modelRow->addWidget(m_fetch);
    form->addRow(m_modelLabel, modelRow);
    connect(m_modelField, &QLineEdit::textEdited, this,
            [this](const QString& typed) { settings().setModelName(typed); });
    connect(m_modelPicker, &QComboBox::activated, this,
            [this](int index) { settings().setModelName(m_modelPicker->itemData(index).toString()); });
    connect(m_fetch, &QToolButton::clicked, this, [this] { m_vm.fetchModels(); });

    m_endpointLabel = new QLabel;
    m_endpoint = new QLineEdit;
    form->addRow(m_endpointLabel, m_endpoint);
    connect(m_endpoint, &QLineEdit::textEdited, this,
            [this](const QString& typed) { settings().setCustomEndpoint(typed); });

    auto* testRow = new QHBoxLayout;
    m_test = new QPushButton;
    m_result = Look::plainLabel(nullptr);
    m_result->setWordWrap(true);
    makeCaption(m_result);
    m_reset = new QPushButton;
    m_reset->setFlat(true);
    makeCaption(m_reset);
    Look::setTextColor(m_reset, Qt::red);
    m_resultIcon = new QLabel;
    m_testBusy = busyBar();
    testRow->addWidget(m_test);
    testRow->addWidget(m_testBusy);
    testRow->addStretch(1);
    testRow->addWidget(m_reset);
    m_section.content->addLayout(testRow);
    // The result has a line of its own: a long one does not push the buttons away.
    auto* resultRow = new QHBoxLayout;
    resultRow->addWidget(m_resultIcon, 0, Qt::AlignTop);
    resultRow->addWidget(m_result, 1);
    m_section.content->addLayout(resultRow);
    connect(m_test, &QPushButton::clicked, this, [this] { m_vm.testConnection(); });
    connect(m_reset, &QPushButton::clicked, this, [this] {
        askFirst(
            this,
            text(QStringLiteral("KI-Einstellungen zurücksetzen?"), QStringLiteral("Reset the AI settings?")),
            text(QStringLiteral("API-Schlüssel, Modell und Endpunkt werden gelöscht."),
                 QStringLiteral("The API key, model and endpoint are cleared.")),
            text(QStringLiteral("Zurücksetzen"), QStringLiteral("Reset")),
            text(QStringLiteral("Abbrechen"), QStringLiteral("Cancel")), [this] { m_vm.reset(); });
    });
    m_layout->addStretch(1);

    retranslate();
    refresh();
}

void AIProviderPage::fillModelPicker() {
    // Refilled only when what it lists changed, so an open list is left alone.
    const QString model = settings().modelName();
    const QString fallback = defaultModel(settings().selectedProvider());
    if (m_pickerModels == m_vm.availableModels() && m_pickerModel == model && m_pickerDefault == fallback &&
        m_modelPicker->count() > 0) {
        return;
    }
    m_pickerModels = m_vm.availableModels();
    m_pickerModel = model;
    m_pickerDefault = fallback;
    const QSignalBlocker blocker(m_modelPicker);
    m_modelPicker->clear();
    m_modelPicker->addItem(QString(), QString());
    for (const QString& id : m_pickerModels) {
        m_modelPicker->addItem(id, id);
    }
    // A stored model the server did not list stays shown instead of turning into the default.
    if (!model.isEmpty() && m_modelPicker->findData(model) < 0) {
        m_modelPicker->addItem(model, model);
    }
    m_modelPicker->setCurrentIndex(m_modelPicker->findData(model));
}

void AIProviderPage::refresh() {
    const AppSettings& s = settings();
    const AIProviderType provider = s.selectedProvider();
    setCurrentData(m_provider, static_cast<int>(provider));
    const bool cloud = provider == AIProviderType::claude || provider == AIProviderType::openai;
    // The field shows the selected provider's own key, empty when it has none.
    m_keyLabel->setVisible(sendsApiKey(provider));
    m_key->setVisible(sendsApiKey(provider));
    m_endpointLabel->setVisible(!cloud);
    m_endpoint->setVisible(!cloud);
    setText(m_key, s.apiKey());
    setText(m_endpoint, s.customEndpoint());
    setText(m_modelField, s.modelName());
    fillModelPicker();
    m_modelRow->setCurrentWidget(m_vm.isFetchingModels()            ? m_loading->parentWidget()
                                 : m_vm.availableModels().isEmpty() ? static_cast<QWidget*>(m_modelField)
                                                                    : static_cast<QWidget*>(m_modelPicker));
    m_fetch->setEnabled(!m_vm.isFetchingModels());
    m_test->setEnabled(!m_vm.isTesting());
    m_testBusy->setVisible(m_vm.isTesting());
    const auto result = m_vm.connectionTestResult();
    m_result->setVisible(result.has_value());
    m_resultIcon->setVisible(result.has_value());
    if (result) {
        setText(m_result, result->text);
        const QColor color = resultColor(result->success, palette());
        Look::setTextColor(m_result, color);
        const QIcon symbol = Look::symbolIcon(result->success ? QStringLiteral("checkmark.circle.fill")
                                                              : QStringLiteral("xmark.circle.fill"),
                                              color);
        m_resultIcon->setPixmap(symbol.pixmap(14, 14));
    }
    retranslate();
}

void AIProviderPage::retranslate() {
    const AIProviderType provider = settings().selectedProvider();
    const AppLanguage language = m_vm.language();
    setText(m_providerLabel, text(QStringLiteral("KI-Anbieter"), QStringLiteral("AI Provider")));
    for (int i = 0; i < m_provider->count(); ++i) {
        const QString name =
            displayName(static_cast<AIProviderType>(m_provider->itemData(i).toInt()), language);
        if (m_provider->itemText(i) != name) {
            m_provider->setItemText(i, name);
        }
    }
    setText(m_keyLabel, text(QStringLiteral("API-Schlüssel"), QStringLiteral("API Key")));
    setText(m_modelLabel, text(QStringLiteral("Modell"), QStringLiteral("Model")));
    setText(m_loading, text(QStringLiteral("Lade Modelle…"), QStringLiteral("Loading models…")));
    m_modelField->setPlaceholderText(defaultModel(provider));
    const QString first = text(QStringLiteral("Standard ("), QStringLiteral("Default (")) +
                          defaultModel(provider) + QLatin1Char(')');
    if (m_modelPicker->count() > 0 && m_modelPicker->itemText(0) != first) {
        m_modelPicker->setItemText(0, first);
    }
    m_fetch->setToolTip(
        text(QStringLiteral("Verfügbare Modelle abrufen"), QStringLiteral("Fetch available models")));
    setText(m_endpointLabel, text(QStringLiteral("Endpoint-URL"), QStringLiteral("Endpoint URL")));
    m_endpoint->setPlaceholderText(
        provider == AIProviderType::ollama     ? QStringLiteral("http://localhost:11434")
        : provider == AIProviderType::lmstudio ? QStringLiteral("http://localhost:1234")
                                               : QStringLiteral("http://localhost:8080"));
    setText(m_test, m_vm.isTesting()
                        ? text(QStringLiteral("Teste Verbindung…"), QStringLiteral("Testing connection…"))
                        : text(QStringLiteral("Verbindung testen"), QStringLiteral("Test Connection")));
    m_test->setIcon(m_vm.isTesting() ? QIcon() : Look::symbolIcon(QStringLiteral("network")));
    setText(m_reset, text(QStringLiteral("Zurücksetzen"), QStringLiteral("Reset")));
    QString footer;
    switch (provider) {
    case AIProviderType::claude:
        footer = text(QStringLiteral("Benötigt einen Anthropic API-Schlüssel. Registrierung unter "),
                      QStringLiteral("Requires an Anthropic API key. Sign up at ")) +
                 QStringLiteral("console.anthropic.com");
        break;
    case AIProviderType::openai:
        footer = text(QStringLiteral("Benötigt einen OpenAI API-Schlüssel. Registrierung unter "),
                      QStringLiteral("Requires an OpenAI API key. Sign up at ")) +
                 QStringLiteral("platform.openai.com");
        break;
    case AIProviderType::ollama:
        footer = text(
            QStringLiteral("Lokaler Betrieb – kein API-Schlüssel erforderlich. Ollama muss installiert und "
                           "gestartet sein."),
            QStringLiteral("Local operation – no API key required. Ollama must be installed and running."));
        break;
    case AIProviderType::lmstudio:
        footer = text(QStringLiteral("Lokaler Betrieb mit LM Studio. Der Server muss gestartet sein."),
                      QStringLiteral("Local operation with LM Studio. The server must be running."));
        break;
    case AIProviderType::custom:
        footer = text(QStringLiteral("Benutzerdefinierter OpenAI-kompatibler Endpunkt."),
                      QStringLiteral("Custom OpenAI-compatible endpoint."));
        break;
    }
    setText(m_section.footer, footer);
}
