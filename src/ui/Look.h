#pragma once

#include <QAnyStringView>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

class QFrame;
class QLabel;
class QPalette;
class QPixmap;
class QWidget;

// The look every screen is built with: the status colours, the text styles,
// the symbols, and the small widgets that carry them. Colours and symbols are
// worked out from the palette they are asked for, so they stay readable on
// the light and the dark appearance; text styles are relative to the font
// they are given (a widget's or the application's), never absolute sizes.
// Nothing here keeps state.
namespace Look {

// A status colour by name ("blue", "green", "orange", "red", "teal"; any other
// name is the secondary text colour) for the background of `palette`.
QColor statusColor(QAnyStringView name, const QPalette& palette);
// Gives a widget's text one colour (window, button and input text alike).
void setTextColor(QWidget* widget, const QColor& color);

// `base` at `factor` times its size, with `weight` when one is given (>= 0).
QFont scaledFont(const QFont& base, double factor, int weight = -1);
// Named text styles, in the normal weight except the headline.
QFont caption(const QFont& base);  // 0.85 x
QFont caption2(const QFont& base); // 0.77 x
QFont callout(const QFont& base);  // 0.95 x
QFont headline(const QFont& base); // bold
QFont title2(const QFont& base);   // 1.4 x
// The system's fixed-width font, as it is and at the caption size of `base`.
QFont monospace();
QFont monospaceCaption(const QFont& base);

// The icon for one of the symbol names the screens use ("gear",
// "questionmark.circle", ...). The icons that carry a status or a meaning
// (status badges, log marks, the filter, the tip, the empty states) are drawn
// by the program, sharp at any size and the same on every desktop, in `color`
// (the palette's text colour when none is given); the others are the desktop
// theme's icon of that meaning when the theme has one, else a standard icon
// of the widget style.
QIcon symbolIcon(const QString& symbolName, const QColor& color = {});
// A label showing that icon at `size` x `size` pixels.
QLabel* symbolLabel(QWidget* parent, const QString& symbolName, int size, const QColor& color = {},
                    QIcon::Mode mode = QIcon::Normal);

// A label that shows its text as it is: names, tags and errors may hold markup.
QLabel* plainLabel(QWidget* parent, const QString& text = {});
// A sunken line; `length` fixes a vertical line's height when positive.
QFrame* divider(QWidget* parent, Qt::Orientation orientation, int length = 0);
// A tooltip that shows `text` literally, whatever it contains.
QString plainToolTip(const QString& text);
// A genre as shown: without trailing NULs, and NULs between values (as some
// taggers join them) shown as " / ".
QString shownGenre(const QString& genre);

// The maker's logo for `palette`: its grey lettering takes the palette's text
// colour, so it stays readable on a dark background; the coloured mark stays.
QPixmap makerLogo(const QPalette& palette);
// "© <year> Orvek. " and the all-rights-reserved sentence of the current language.
QString rightsLine();

} // namespace Look
