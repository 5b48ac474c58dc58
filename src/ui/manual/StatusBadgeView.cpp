#include "ui/manual/StatusBadgeView.h"

#include "ui/Look.h"
#include "ui/manual/ManualFileTable.h"
#include "ui/manual/StatusBadgeViewModel.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

void StatusBadgeView::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    const auto* model = qobject_cast<const ManualFileTableModel*>(index.model());
    if (model == nullptr) {
        return;
    }
    const MusicFile& file = model->fileAt(index.row());
    const QColor color = Look::statusColor(colorName(file.status), option.palette);
    const QFont font = Look::caption(option.font);
    const QRect r = option.rect.adjusted(4, 0, -4, 0);
    const int icon = 12;
    const QRect iconRect(r.left(), r.center().y() - icon / 2, icon, icon);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (file.status.kind() == ProcessingStatus::Kind::lookingUp) {
        // A small turning arc, scaled down like a mini spinner.
        QPen pen(option.palette.color(QPalette::Text), 1.5);
        painter->setPen(pen);
        const QRectF arc = QRectF(iconRect).adjusted(2.4, 2.4, -2.4, -2.4);
        painter->drawArc(arc, -model->spinnerPhase() * 30 * 16, 270 * 16);
    } else {
        Look::symbolIcon(statusIcon(file.status), color).paint(painter, iconRect);
    }
    painter->setFont(font);
    painter->setPen(color);
    const QRect textRect = r.adjusted(icon + 4, 0, 0, 0);
    const QString label = QFontMetrics(font).elidedText(statusLabel(file.status, file.discoveredGenre),
                                                        Qt::ElideRight, textRect.width());
    painter->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, label);
    painter->restore();
}

QSize StatusBadgeView::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), 20));
    return size;
}

QFrame* StatusBadgeView::showPopover(QWidget* parent, const ProcessingStatus& status,
                                     const std::optional<QString>& discoveredGenre, const QRect& anchor) {
    auto* popover = new QFrame(parent, Qt::Popup);
    popover->setAttribute(Qt::WA_DeleteOnClose);
    popover->setObjectName(QStringLiteral("statusPopover"));
    popover->setFrameShape(QFrame::StyledPanel);
    const QColor color = Look::statusColor(colorName(status), popover->palette());

    auto* layout = new QVBoxLayout(popover);
    layout->setSpacing(8);
    auto* headlineRow = new QHBoxLayout;
    headlineRow->setSpacing(6);
    auto* icon = Look::symbolLabel(popover, statusIcon(status), 16, color);
    auto* label = Look::plainLabel(popover, statusLabel(status, discoveredGenre));
    label->setFont(Look::headline(popover->font()));
    Look::setTextColor(label, color);
    headlineRow->addWidget(icon);
    headlineRow->addWidget(label, 1);
    layout->addLayout(headlineRow);
    auto* line = new QFrame(popover);
    line->setFrameShape(QFrame::HLine);
    layout->addWidget(line);
    auto* detail = Look::plainLabel(popover, statusDetail(status, discoveredGenre));
    detail->setObjectName(QStringLiteral("statusDetail"));
    detail->setWordWrap(true);
    layout->addWidget(detail);

    // 300 wide and as tall as the wrapped sentence; a word longer than a line
    // (a host name, a path) widens it, as far as the screen allows.
    const QScreen* screen = QGuiApplication::screenAt(anchor.center());
    const QRect room = (screen ? screen : QGuiApplication::primaryScreen())->availableGeometry();
    const int width = std::min(std::max(300, popover->minimumSizeHint().width()), room.width());
    popover->setFixedSize(width, popover->heightForWidth(width));
    // Above the badge, pointing down at it; below it where the screen ends above.
    QPoint at(anchor.center().x() - width / 2, anchor.top() - popover->height() - 2);
    if (at.y() < room.top()) {
        at.setY(anchor.bottom() + 2);
    }
    at.setX(std::clamp(at.x(), room.left(), room.right() + 1 - width));
    popover->move(at);
    popover->show();
    return popover;
}
