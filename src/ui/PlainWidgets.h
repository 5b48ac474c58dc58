#pragma once

#include <QString>

class QColor;
class QLabel;
class QPalette;
class QPixmap;
class QWidget;

// Small pieces every screen builds its widgets from.
namespace ui {

// Gives a widget's text one colour (window, button and input text alike).
void setTextColor(QWidget* widget, const QColor& color);

// A label that shows its text as it is: names, tags and errors may hold markup.
QLabel* plainLabel(QWidget* parent, const QString& text = {});

// The maker's logo for `palette`: its grey lettering takes the palette's text
// colour, so it stays readable on a dark background; the coloured mark stays.
QPixmap makerLogo(const QPalette& palette);

} // namespace ui
