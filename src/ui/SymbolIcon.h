#pragma once

#include <QIcon>
#include <QString>

// The icon for one of the symbol names the screens use ("gear",
// "questionmark.circle", ...): the desktop theme's icon of that meaning when
// the theme has one, else a standard icon of the widget style.
QIcon symbolIcon(const QString& symbolName);
