#pragma once

#include <QLayout>
#include <QList>
#include <QSet>

#include <optional>

// Lays its widgets out in a row at their preferred widths and wraps to a new
// row where the width runs out, so that a row of buttons stays whole (every
// text readable, none out of sight) in a narrow window and in a long
// translation. Rows are left-aligned or centred; items are vertically centred
// in their row.
class FlowLayout : public QLayout {
public:
    explicit FlowLayout(QWidget* parent = nullptr, int spacing = 8, bool centred = false);
    ~FlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override { return int(m_items.size()); }
    QLayoutItem* itemAt(int index) const override { return m_items.value(index); }
    QLayoutItem* takeAt(int index) override;
    int spacing() const { return m_spacing; }
    // Asks for the rows `widget` would take also while it is hidden, so that
    // it never moves what lies below when it appears or goes; the shown
    // widgets are placed without a gap for it.
    void reserveRoomFor(const QWidget* widget) { m_reserved.insert(widget); }

    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    // Places the items in `rect` (only measures when `apply` is false) and
    // returns the height used.
    int arrange(const QRect& rect, bool apply) const;
    // The size an item asks for; none for an item that takes no room.
    std::optional<QSize> measured(const QLayoutItem* item, bool apply) const;

    QList<QLayoutItem*> m_items;
    int m_spacing;
    bool m_centred;
    QSet<const QWidget*> m_reserved;
};
