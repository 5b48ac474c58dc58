#include "ui/settings/SettingsForm.h"

#include "ui/Look.h"

#include <QFrame>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>

namespace SettingsForm {

Section addSection(QVBoxLayout* page, bool withHeader, bool withFooter) {
    Section section;
    if (withHeader) {
        section.header = Look::plainLabel(nullptr);
        makeSecondary(section.header);
        page->addWidget(section.header);
    }
    auto* frame = new QFrame;
    frame->setFrameShape(QFrame::StyledPanel);
    // Not Base: a check box is drawn on Base, and in the dark palette its
    // outline would vanish into a Base panel.
    frame->setBackgroundRole(QPalette::AlternateBase);
    frame->setAutoFillBackground(true);
    section.content = new QVBoxLayout(frame);
    section.content->setContentsMargins(10, 6, 10, 6);
    page->addWidget(frame);
    if (withFooter) {
        section.footer = makeNote();
        page->addWidget(section.footer);
    }
    page->addSpacing(12);
    return section;
}

void makeCaption(QWidget* widget) {
    widget->setFont(Look::caption(widget->font()));
}

void makeSecondary(QWidget* widget) {
    // A role, not a colour: the text follows a later switch between light and dark.
    widget->setForegroundRole(QPalette::PlaceholderText);
}

QLabel* makeNote(QWidget* parent) {
    auto* label = Look::plainLabel(parent);
    label->setWordWrap(true);
    makeCaption(label);
    makeSecondary(label);
    return label;
}

QColor resultColor(bool success, const QPalette& palette) {
    return Look::statusColor(success ? QStringLiteral("green") : QStringLiteral("red"), palette);
}

void colourResult(QLabel* label) {
    Look::setTextColor(label, resultColor(label->text().startsWith(QStringLiteral("✓")), label->palette()));
}

void setText(QLineEdit* field, const QString& text) {
    if (field->text() != text) {
        const QSignalBlocker blocker(field);
        field->setText(text);
    }
}

void setText(QLabel* label, const QString& text) {
    if (label->text() != text) {
        label->setText(text);
    }
}

void setText(QAbstractButton* button, const QString& text) {
    if (button->text() != text) {
        button->setText(text);
    }
}

void setChecked(QAbstractButton* box, bool checked) {
    if (box->isChecked() != checked) {
        const QSignalBlocker blocker(box);
        box->setChecked(checked);
    }
}

void setCurrentData(QComboBox* combo, const QVariant& data) {
    const int index = combo->findData(data);
    if (index != combo->currentIndex()) {
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(index);
    }
}

void makeSecret(QLineEdit* field) {
    field->setEchoMode(QLineEdit::Password);
    field->setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText | Qt::ImhHiddenText);
}

void askFirst(QWidget* parent, const QString& question, const QString& detail, const QString& confirm,
              const QString& keep, std::function<void()> then) {
    auto* box = new QMessageBox(QMessageBox::Warning, question, question, QMessageBox::NoButton, parent);
    box->setObjectName(QStringLiteral("askFirst"));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(detail);
    QPushButton* yes = box->addButton(confirm, QMessageBox::DestructiveRole);
    QPushButton* no = box->addButton(keep, QMessageBox::RejectRole);
    box->setDefaultButton(no);
    box->setEscapeButton(no);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [yes, then = std::move(then)](QAbstractButton* b) {
                         if (b == yes && then) {
                             then();
                         }
                     });
    box->open();
}

} // namespace SettingsForm
