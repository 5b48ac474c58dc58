#include "ui/FlowLayout.h"

#include <QWidget>

#include <algorithm>

FlowLayout::FlowLayout(QWidget* parent, int spacing, bool centred)
    : QLayout(parent), m_spacing(spacing), m_centred(centred) {}

FlowLayout::~FlowLayout() {
    while (QLayoutItem* item = takeAt(0)) {
        delete item;
    }
}

void FlowLayout::addItem(QLayoutItem* item) {
    m_items.append(item);
}

QLayoutItem* FlowLayout::takeAt(int index) {
    return index >= 0 && index < m_items.size() ? m_items.takeAt(index) : nullptr;
}

int FlowLayout::heightForWidth(int width) const {
    const QRect rect(0, 0, width, 0);
    int height = arrange(rect, false);
    for (const QList<const QWidget*>& turn : m_turns) {
        height = std::max(height, arrange(rect, false, &turn));
    }
    return height;
}

QSize FlowLayout::sizeHint() const {
    // Everything in one row, the widest set of m_turns shown.
    QSize hint;
    const auto oneRow = [&](const QList<const QWidget*>* turn) {
        int width = 0;
        int height = 0;
        for (const QLayoutItem* item : m_items) {
            if (const std::optional<QSize> size = measured(item, turn)) {
                width += (width > 0 ? m_spacing : 0) + size->width();
                height = std::max(height, size->height());
            }
        }
        hint = hint.expandedTo(QSize(width, height));
    };
    oneRow(nullptr);
    for (const QList<const QWidget*>& turn : m_turns) {
        oneRow(&turn);
    }
    const QMargins m = contentsMargins();
    return hint + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize FlowLayout::minimumSize() const {
    // The widest item on a row of its own; no item is ever squeezed below its hint.
    QSize size;
    for (const QLayoutItem* item : m_items) {
        if (const std::optional<QSize> hint = measured(item, nullptr)) {
            size = size.expandedTo(*hint);
        }
    }
    for (const QList<const QWidget*>& turn : m_turns) {
        for (const QWidget* widget : turn) {
            size = size.expandedTo(widget->sizeHint());
        }
    }
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

bool FlowLayout::takesTurns(const QWidget* widget) const {
    return std::any_of(m_turns.begin(), m_turns.end(),
                       [widget](const QList<const QWidget*>& turn) { return turn.contains(widget); });
}

std::optional<QSize> FlowLayout::measured(const QLayoutItem* item, const QList<const QWidget*>* turn) const {
    const QWidget* widget = item->widget();
    if (turn && widget && takesTurns(widget)) {
        if (!turn->contains(widget)) {
            return std::nullopt;
        }
        // A hidden widget's item has no size of its own: the widget's is the one it would take.
        return item->isEmpty() ? widget->sizeHint() : item->sizeHint();
    }
    if (!item->isEmpty()) {
        return item->sizeHint();
    }
    return std::nullopt;
}

void FlowLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowLayout::arrange(const QRect& rect, bool apply, const QList<const QWidget*>* turn) const {
    const QRect area = rect.marginsRemoved(contentsMargins());
    QList<QLayoutItem*> row;
    int rowWidth = 0;
    int rowHeight = 0;
    int y = area.y();
    const auto placeRow = [&] {
        int x = area.x() + (m_centred ? std::max(0, (area.width() - rowWidth) / 2) : 0);
        for (QLayoutItem* item : row) {
            const QSize size = item->sizeHint();
            if (apply) {
                item->setGeometry(QRect(QPoint(x, y + (rowHeight - size.height()) / 2), size));
            }
            x += size.width() + m_spacing;
        }
        y += rowHeight + m_spacing;
        row.clear();
        rowWidth = 0;
        rowHeight = 0;
    };
    for (QLayoutItem* item : m_items) {
        const std::optional<QSize> hint = measured(item, apply ? nullptr : turn);
        if (!hint) {
            continue;
        }
        const QSize size = *hint;
        if (!row.isEmpty() && rowWidth + m_spacing + size.width() > area.width()) {
            placeRow();
        }
        rowWidth += (row.isEmpty() ? 0 : m_spacing) + size.width();
        rowHeight = std::max(rowHeight, size.height());
        row.append(item);
    }
    if (!row.isEmpty()) {
        placeRow();
    }
    const QMargins m = contentsMargins();
    return std::max(0, y - m_spacing - area.y()) + m.top() + m.bottom();
}
