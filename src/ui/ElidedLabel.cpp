#include "ui/ElidedLabel.h"

#include "ui/Look.h"

#include <algorithm>

ElidedLabel::ElidedLabel(int maxWidth, QWidget* parent, Qt::TextElideMode mode)
    : QLabel(parent), m_mode(mode) {
    setTextFormat(Qt::PlainText);
    setMaximumWidth(maxWidth);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setFullText(const QString& text) {
    m_full = text;
    // File and folder names are shown as they are, never as markup.
    setToolTip(Look::plainToolTip(text));
    updateGeometry();
    elide();
}

QSize ElidedLabel::sizeHint() const {
    return {std::min(maximumWidth(), fontMetrics().horizontalAdvance(m_full) + 4),
            QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {20, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide() {
    setText(fontMetrics().elidedText(m_full, m_mode, width()));
}
