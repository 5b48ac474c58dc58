#include "app/Appearance.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

#include <memory>

namespace {

struct StartupLook {
    QString styleName;
    QPalette palette;
};

// Taken the first time an appearance is asked for, before anything changed it.
const StartupLook& startupLook() {
    static const StartupLook look{QApplication::style()->name(), QApplication::palette()};
    return look;
}

QPalette darkPalette() {
    QPalette p;
    const QColor window(45, 45, 48);
    const QColor base(30, 30, 32);
    const QColor text(232, 232, 232);
    const QColor disabled(128, 128, 128);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Light, QColor(70, 70, 74));
    p.setColor(QPalette::Midlight, QColor(60, 60, 64));
    p.setColor(QPalette::Mid, QColor(40, 40, 42));
    p.setColor(QPalette::Dark, QColor(25, 25, 27));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, QColor(10, 132, 255));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(64, 156, 255));
    p.setColor(QPalette::LinkVisited, QColor(180, 130, 255));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, disabled);
    }
    return p;
}

} // namespace

QPalette paletteFor(AppAppearance appearance) {
    switch (appearance) {
    case AppAppearance::light: {
        const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
        return fusion ? fusion->standardPalette() : startupLook().palette;
    }
    case AppAppearance::dark:
        return darkPalette();
    case AppAppearance::system:
        break;
    }
    return startupLook().palette;
}

void setAppAppearance(AppAppearance appearance) {
    const StartupLook& look = startupLook();
    const QString style = appearance == AppAppearance::system ? look.styleName : QStringLiteral("Fusion");
    if (QApplication::style()->name().compare(style, Qt::CaseInsensitive) != 0) {
        QApplication::setStyle(style);
    }
    QApplication::setPalette(paletteFor(appearance));
}
