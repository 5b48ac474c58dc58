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
    return arrange(QRect(0, 0, width, 0), false);
}

QSize FlowLayout::sizeHint() const {
    // Everything in one row.
    int width = 0;
    int height = 0;
    for (const QLayoutItem* item : m_items) {
        if (!item->isEmpty()) {
            width += (width > 0 ? m_spacing : 0) + item->sizeHint().width();
            height = std::max(height, item->sizeHint().height());
        }
    }
    const QMargins m = contentsMargins();
    return {width + m.left() + m.right(), height + m.top() + m.bottom()};
}

QSize FlowLayout::minimumSize() const {
    // The widest item on a row of its own; no item is ever squeezed below its hint.
    QSize size;
    for (const QLayoutItem* item : m_items) {
        if (!item->isEmpty()) {
            size = size.expandedTo(item->sizeHint());
        }
    }
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

void FlowLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowLayout::arrange(const QRect& rect, bool apply) const {
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
        if (item->isEmpty()) {
            continue;
        }
        const QSize size = item->sizeHint();
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
