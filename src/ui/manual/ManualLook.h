#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QFrame;
class QLabel;
class QPalette;
class QWidget;

// Colours, symbols and text sizes of the Manual mode screens.
namespace ManualLook {

// A colour name of the status texts ("blue", "green", "orange", "red",
// "teal"; anything else is the secondary text colour), legible on light and
// dark palettes.
QColor statusColor(const QString& name, const QPalette& palette);
// Text styles relative to the application font.
QFont caption(const QFont& base);
QFont callout(const QFont& base);
QFont headline(const QFont& base);
QFont title2(const QFont& base);
// Sets the label's text colour.
void setTextColor(QWidget* widget, const QColor& color);
// A label that shows its text literally.
QLabel* plainLabel(QWidget* parent, const QString& text = {});
// A sunken line; `length` fixes a vertical line's height when positive.
QFrame* divider(QWidget* parent, Qt::Orientation orientation, int length = 0);
// A tooltip that shows `text` literally, whatever it contains.
QString plainToolTip(const QString& text);

} // namespace ManualLook
