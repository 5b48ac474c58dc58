#pragma once

#include <QLayout>
#include <QList>

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
    // Widgets shown in turn with those of the other sets given here (Problems
    // and Undo while idle, Cancel while busy): the layout asks for the rows of
    // the tallest set shown, the others hidden, also while some of them are
    // hidden, so that what lies below never moves when one set goes and
    // another comes. The shown widgets are placed without a gap for the hidden.
    void takeTurns(QList<const QWidget*> set) { m_turns.append(std::move(set)); }

    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    // Places the shown items in `rect` and returns the height used; only
    // measures when `apply` is false, with the set `turn` of m_turns shown
    // (the other sets hidden) when given.
    int arrange(const QRect& rect, bool apply, const QList<const QWidget*>* turn = nullptr) const;
    // The size an item asks for (with `turn` shown); none for an item that takes no room.
    std::optional<QSize> measured(const QLayoutItem* item, const QList<const QWidget*>* turn) const;
    // Whether the widget is in one of the sets of m_turns.
    bool takesTurns(const QWidget* widget) const;

    QList<QLayoutItem*> m_items;
    int m_spacing;
    bool m_centred;
    QList<QList<const QWidget*>> m_turns;
};
