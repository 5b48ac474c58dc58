#include "ui/PlainWidgets.h"

#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPixmap>

namespace ui {

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

QLabel* plainLabel(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPixmap makerLogo(const QPalette& palette) {
    QImage logo(QStringLiteral(":/images/OrvekLogo.png"));
    if (logo.isNull()) {
        return {};
    }
    logo = logo.convertToFormat(QImage::Format_ARGB32);
    const QColor text = palette.color(QPalette::WindowText);
    for (int y = 0; y < logo.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(logo.scanLine(y));
        for (int x = 0; x < logo.width(); ++x) {
            // The lettering is the only grey (unsaturated) part of the picture.
            if (QColor::fromRgba(line[x]).hsvSaturation() < 60) {
                line[x] = qRgba(text.red(), text.green(), text.blue(), qAlpha(line[x]));
            }
        }
    }
    return QPixmap::fromImage(logo);
}

} // namespace ui
