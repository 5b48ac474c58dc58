#pragma once

#include "model/ProcessingStatus.h"

#include <QStyledItemDelegate>

#include <optional>

class QFrame;

// The Status cell of the Manual mode table: the status symbol (a spinner
// while the file is looked up) and its short label, in the status colour.
// Its tooltip is the status sentence.
class StatusBadgeView : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The popover for a status: its symbol and label as a headline over the
    // sentence, 300 wide and as tall as the wrapped sentence, shown above
    // `anchor` (global coordinates), or below it at the top of the screen. It
    // closes itself when the user clicks elsewhere.
    static QFrame* showPopover(QWidget* parent, const ProcessingStatus& status,
                               const std::optional<QString>& discoveredGenre, const QRect& anchor);
};
