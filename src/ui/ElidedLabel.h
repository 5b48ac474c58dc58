#pragma once

#include <QLabel>

// A label that shows its plain text cut to its width (in the middle, or
// where `mode` says), asking for the whole text's width up to `maxWidth`;
// the whole text is its tooltip.
class ElidedLabel : public QLabel {
public:
    ElidedLabel(int maxWidth, QWidget* parent, Qt::TextElideMode mode = Qt::ElideMiddle);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_full; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString m_full;
    Qt::TextElideMode m_mode;
};
