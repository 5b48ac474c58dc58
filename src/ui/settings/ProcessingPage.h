#pragma once

#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsPage.h"

#include <QToolButton>

// A value with a minus and a plus button; the buttons report steps, the
// owner decides what is stored and shows the value it reads back.
class Stepper : public QWidget {
    Q_OBJECT

public:
    explicit Stepper(QWidget* parent = nullptr);
    void display(const QString& label, int value, int min, int max);

    QLabel* label() const { return m_label; }
    QToolButton* downButton() const { return m_down; }
    QToolButton* upButton() const { return m_up; }

Q_SIGNALS:
    void stepped(int direction);

private:
    QLabel* m_label;
    QToolButton* m_down;
    QToolButton* m_up;
};

// The Processing tab: files in flight, request time-out, tag repair.
class ProcessingPage : public SettingsPage {
    Q_OBJECT

public:
    explicit ProcessingPage(SettingsViewModel& viewModel, QWidget* parent = nullptr);
    void refresh() override;
    void retranslate() override;

    Stepper* concurrencyStepper() const { return m_concurrency; }

private:
    SettingsForm::Section m_steppers;
    SettingsForm::Section m_repairSection;
    Stepper* m_concurrency;
    Stepper* m_timeout;
    QCheckBox* m_repair;
    QLabel* m_repairNote;
};

// The Appearance tab: light, dark or the system's look, and the language.
class AppearancePage : public SettingsPage {
    Q_OBJECT

public:
    explicit AppearancePage(SettingsViewModel& viewModel, QWidget* parent = nullptr);
    void refresh() override;
    void retranslate() override;

    QComboBox* languagePicker() const { return m_language; }

private:
    SettingsForm::Section m_appearanceSection;
    SettingsForm::Section m_languageSection;
    QLabel* m_appearanceLabel;
    QComboBox* m_appearance;
    QLabel* m_languageLabel;
    QComboBox* m_language;
};
