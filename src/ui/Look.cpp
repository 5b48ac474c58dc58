#include "ui/Look.h"

#include "model/AppLanguage.h"

#include <QFontDatabase>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QWidget>

#include <algorithm>

namespace Look {

QColor statusColor(QAnyStringView name, const QPalette& palette) {
    struct Named {
        const char* name;
        QColor light;
        QColor dark;
    };
    static const Named colors[] = {
        {"blue", QColor(0x0a, 0x5f, 0xd0), QColor(0x5a, 0xaa, 0xff)},
        {"green", QColor(0x1b, 0x84, 0x36), QColor(0x5c, 0xd1, 0x7a)},
        {"orange", QColor(0xc2, 0x5e, 0x00), QColor(0xff, 0xa9, 0x4d)},
        {"red", QColor(0xc6, 0x28, 0x28), QColor(0xff, 0x6b, 0x6b)},
        {"teal", QColor(0x00, 0x79, 0x6b), QColor(0x4d, 0xd0, 0xc8)},
    };
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    for (const Named& color : colors) {
        if (name == QLatin1String(color.name)) {
            return dark ? color.dark : color.light;
        }
    }
    return palette.color(QPalette::PlaceholderText);
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

QFont scaledFont(const QFont& base, double factor, int weight) {
    QFont font = base;
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else {
        font.setPixelSize(std::max(1, int(font.pixelSize() * factor)));
    }
    if (weight >= 0) {
        font.setWeight(QFont::Weight(weight));
    }
    return font;
}

QFont caption(const QFont& base) {
    return scaledFont(base, 0.85, QFont::Normal);
}
QFont caption2(const QFont& base) {
    return scaledFont(base, 0.77, QFont::Normal);
}
QFont callout(const QFont& base) {
    return scaledFont(base, 0.95, QFont::Normal);
}
QFont headline(const QFont& base) {
    return scaledFont(base, 1.0, QFont::Bold);
}
QFont title2(const QFont& base) {
    return scaledFont(base, 1.4, QFont::Normal);
}

QFont monospace() {
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

QFont monospaceCaption(const QFont& base) {
    QFont font = monospace();
    if (base.pointSizeF() > 0) {
        font.setPointSizeF(base.pointSizeF() * 0.85);
    } else {
        font.setPixelSize(std::max(1, int(base.pixelSize() * 0.85)));
    }
    return font;
}

QLabel* plainLabel(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* symbolLabel(QWidget* parent, const QString& symbolName, int size, const QColor& color,
                    QIcon::Mode mode) {
    auto* label = new QLabel(parent);
    label->setPixmap(symbolIcon(symbolName, color).pixmap(size, size, mode));
    return label;
}

QFrame* divider(QWidget* parent, Qt::Orientation orientation, int length) {
    auto* frame = new QFrame(parent);
    frame->setFrameShape(orientation == Qt::Vertical ? QFrame::VLine : QFrame::HLine);
    frame->setFrameShadow(QFrame::Sunken);
    if (length > 0) {
        frame->setFixedHeight(length);
    }
    return frame;
}

QString plainToolTip(const QString& text) {
    return text.isEmpty() ? QString()
                          : QStringLiteral("<p style=\"white-space:pre-wrap\">") +
                                text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>")) +
                                QStringLiteral("</p>");
}

QString shownGenre(const QString& genre) {
    QString shown = genre;
    while (shown.endsWith(QChar(0))) {
        shown.chop(1);
    }
    return shown.replace(QChar(0), QStringLiteral(" / "));
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

QString rightsLine() {
    return QStringLiteral("© 2026 Orvek. ") +
           localizedText(QStringLiteral("Alle Rechte vorbehalten."), QStringLiteral("All rights reserved."));
}

} // namespace Look
