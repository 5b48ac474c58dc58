#pragma once

#include "ui/Look.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QVBoxLayout>
#include <QWidget>

#include <functional>

class SettingsViewModel;

// Building blocks of the settings pages: grouped sections with header and
// footer, the caption and secondary text looks, themed icons, and bindings
// that refresh a control without it announcing a user change.
namespace SettingsForm {

struct Section {
    QLabel* header = nullptr; // null when the section has none
    QVBoxLayout* content = nullptr;
    QLabel* footer = nullptr; // null when the section has none
};

// Appends a section (header above, framed content, footer below) to `page`.
Section addSection(QVBoxLayout* page, bool withHeader, bool withFooter);

// A word-wrapped plain-text label in the caption font and the secondary colour.
QLabel* makeNote(QWidget* parent = nullptr);
void makeCaption(QWidget* widget);
void makeSecondary(QWidget* widget);
// The green of a success or the red of a failure, readable on the palette's background.
QColor resultColor(bool success, const QPalette& palette);
// Green for a text that begins with "✓", red for any other.
void colourResult(QLabel* label);

// Refreshers: no signal reaches the bound setter, and a field's text (with
// its cursor) is left alone when it already shows the value.
void setText(QLineEdit* field, const QString& text);
void setText(QLabel* label, const QString& text);
void setText(QAbstractButton* button, const QString& text);
void setChecked(QAbstractButton* box, bool checked);
void setCurrentData(QComboBox* combo, const QVariant& data);
// A masked field for a secret: no echo, no prediction or history.
void makeSecret(QLineEdit* field);

// Asks before an action that throws away the user's work: a window-modal
// question whose default answer (Return, Escape) is `keep`; `then` runs only
// when `confirm` is chosen.
void askFirst(QWidget* parent, const QString& question, const QString& detail, const QString& confirm,
              const QString& keep, std::function<void()> then);

} // namespace SettingsForm
