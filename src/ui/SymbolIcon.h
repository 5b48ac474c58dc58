#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// The icon for one of the symbol names the screens use ("gear",
// "questionmark.circle", ...). The icons that carry a status or a meaning
// (status badges, log marks, the filter, the tip, the empty states) are drawn
// by the program, sharp at any size and the same on every desktop, in `color`
// (the palette's text colour when none is given); the others are the desktop
// theme's icon of that meaning when the theme has one, else a standard icon
// of the widget style.
QIcon symbolIcon(const QString& symbolName, const QColor& color = {});
