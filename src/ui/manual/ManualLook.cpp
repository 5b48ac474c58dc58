#include "ui/manual/ManualLook.h"

#include <QApplication>
#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QPalette>
#include <QWidget>

namespace ManualLook {

QColor statusColor(const QString& name, const QPalette& palette) {
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    static const QHash<QString, std::pair<QColor, QColor>> colors = {
        {QStringLiteral("blue"), {QColor(0x0a, 0x5f, 0xd0), QColor(0x5a, 0xaa, 0xff)}},
        {QStringLiteral("green"), {QColor(0x1b, 0x84, 0x36), QColor(0x5c, 0xd1, 0x7a)}},
        {QStringLiteral("orange"), {QColor(0xc2, 0x5e, 0x00), QColor(0xff, 0xa9, 0x4d)}},
        {QStringLiteral("red"), {QColor(0xc6, 0x28, 0x28), QColor(0xff, 0x6b, 0x6b)}},
        {QStringLiteral("teal"), {QColor(0x00, 0x79, 0x6b), QColor(0x4d, 0xd0, 0xc8)}},
    };
    const auto it = colors.constFind(name);
    if (it == colors.constEnd()) {
        return palette.color(QPalette::PlaceholderText);
    }
    return dark ? it->second : it->first;
}

namespace {
QFont scaled(const QFont& base, double factor, bool bold = false) {
    QFont f = base;
    if (f.pointSizeF() > 0) {
        f.setPointSizeF(f.pointSizeF() * factor);
    } else {
        f.setPixelSize(std::max(1, int(f.pixelSize() * factor)));
    }
    f.setBold(bold);
    return f;
}
} // namespace

QFont caption(const QFont& base) {
    return scaled(base, 0.85);
}
QFont callout(const QFont& base) {
    return scaled(base, 0.95);
}
QFont headline(const QFont& base) {
    return scaled(base, 1.0, true);
}
QFont title2(const QFont& base) {
    return scaled(base, 1.4);
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
                          : QStringLiteral("<p>") +
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

} // namespace ManualLook
