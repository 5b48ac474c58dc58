#pragma once

#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsPage.h"

#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

// The AI Provider tab: provider, key, endpoint and model, the provider's
// model list, the connection test and the reset.
class AIProviderPage : public SettingsPage {
    Q_OBJECT

public:
    explicit AIProviderPage(SettingsViewModel& viewModel, QWidget* parent = nullptr);

    void refresh() override;
    void retranslate() override;

    // The provider's default model ("" for a custom server).
    static QString defaultModel(AIProviderType provider);

    QComboBox* providerPicker() const { return m_provider; }
    QLineEdit* keyField() const { return m_key; }
    QLineEdit* endpointField() const { return m_endpoint; }
    QComboBox* modelPicker() const { return m_modelPicker; }
    QToolButton* fetchButton() const { return m_fetch; }

private:
    void fillModelPicker();

    SettingsForm::Section m_section;
    QLabel* m_providerLabel;
    QComboBox* m_provider;
    QLabel* m_keyLabel;
    QLineEdit* m_key;
    QLabel* m_modelLabel;
    QStackedWidget* m_modelRow;
    QLabel* m_loading;
    QLineEdit* m_modelField;
    QComboBox* m_modelPicker;
    QToolButton* m_fetch;
    QLabel* m_endpointLabel;
    QLineEdit* m_endpoint;
    QPushButton* m_test;
    QWidget* m_testBusy;
    QLabel* m_resultIcon;
    QLabel* m_result;
    QPushButton* m_reset;
    QStringList m_pickerModels; // the list the picker was last filled from
    QString m_pickerModel;
    QString m_pickerDefault;
};
