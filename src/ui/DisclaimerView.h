#pragma once

#include <QDialog>

#include <functional>
#include <vector>

class QLabel;
class QPushButton;

// The key of the stored acceptance in the settings store; only a stored JSON
// true counts as accepted.
inline constexpr const char* disclaimerAcceptedKey = "com.velmora.hasAcceptedDisclaimer";
bool hasAcceptedDisclaimer();

// The disclaimer and usage notice, a fixed 580×600 dialog. Modal form (shown
// at start until accepted): "Accept" (Return) stores the acceptance and
// closes; Escape does nothing; a close by the window manager closes it
// without accepting and emits closedWithoutAccepting(), after which the
// program quits. Reading form (Info tab): only "Close" (Escape); it never
// changes the stored acceptance.
class DisclaimerView : public QDialog {
    Q_OBJECT
public:
    explicit DisclaimerView(bool isModal, QWidget* parent = nullptr);

    bool isModalForm() const { return m_isModal; }

public Q_SLOTS:
    void accept() override;
    void reject() override;
    void retranslate();

Q_SIGNALS:
    void closedWithoutAccepting();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* addText(const QString& german, const QString& english);

    bool m_isModal;
    std::vector<std::function<void()>> m_texts;
};
