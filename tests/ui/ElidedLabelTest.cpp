#include "ui/ElidedLabel.h"

#include <QApplication>
#include <QHelpEvent>
#include <QTextDocument>
#include <QToolTip>

#include <gtest/gtest.h>

// A name with markup, entities and a line break is cut in the label and shown
// whole in its tooltip, as it is: the tooltip window Qt opens for the label
// (which decides on its own whether a tip is markup) reads the same text.
TEST(ElidedLabelTest, TooltipShowsMarkupLiterally) {
    const QString full =
        QStringLiteral("<b>Bold</b> &amp; <img src=\"file:///x.png\"> <i>a name  long enough to be cut\n"
                       "&lt;second line&gt;</i>");
    QWidget window;
    ElidedLabel label(120, &window);
    label.setFullText(full);
    window.show();
    EXPECT_NE(label.text(), full);
    const QPoint at(2, 2);
    QHelpEvent help(QEvent::ToolTip, at, label.mapToGlobal(at));
    QApplication::sendEvent(&label, &help);
    ASSERT_TRUE(QToolTip::isVisible());
    QLabel* tip = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QTipLabel") && widget->isVisible()) {
            tip = qobject_cast<QLabel*>(widget);
        }
    }
    ASSERT_NE(tip, nullptr);
    const bool markup = tip->textFormat() == Qt::RichText ||
                        (tip->textFormat() == Qt::AutoText && Qt::mightBeRichText(tip->text()));
    QTextDocument shown;
    if (markup) {
        shown.setHtml(tip->text());
    } else {
        shown.setPlainText(tip->text());
    }
    EXPECT_EQ(shown.toPlainText(), full);
    QToolTip::hideText();
}
