#include "ui/Look.h"

#include <QApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

#include <algorithm>
#include <tuple>

namespace {

enum class Mark { none, check, cross, exclamation, info, question, forward, uturn };
enum class Shape {
    ring,
    disc,
    triangle,
    solidTriangle,
    clock,
    magnifier,
    funnel,
    bulb,
    document,
    notes,
    gear,
    gears,
    calendar,
    bare
};

struct Drawn {
    Shape shape;
    Mark mark;
};

// The drawn symbols, on a 24 x 24 grid.
const QHash<QString, Drawn>& drawnSymbols() {
    static const QHash<QString, Drawn> drawn{
        {QStringLiteral("clock"), {Shape::clock, Mark::none}},
        {QStringLiteral("magnifyingglass"), {Shape::magnifier, Mark::none}},
        {QStringLiteral("checkmark.circle"), {Shape::ring, Mark::check}},
        {QStringLiteral("checkmark.circle.fill"), {Shape::disc, Mark::check}},
        {QStringLiteral("xmark.circle"), {Shape::ring, Mark::cross}},
        {QStringLiteral("xmark.circle.fill"), {Shape::disc, Mark::cross}},
        {QStringLiteral("exclamationmark.circle"), {Shape::ring, Mark::exclamation}},
        {QStringLiteral("exclamationmark.circle.fill"), {Shape::disc, Mark::exclamation}},
        {QStringLiteral("exclamationmark.triangle"), {Shape::triangle, Mark::exclamation}},
        {QStringLiteral("exclamationmark.triangle.fill"), {Shape::solidTriangle, Mark::exclamation}},
        {QStringLiteral("info.circle"), {Shape::ring, Mark::info}},
        {QStringLiteral("info.circle.fill"), {Shape::disc, Mark::info}},
        {QStringLiteral("questionmark.circle"), {Shape::ring, Mark::question}},
        {QStringLiteral("arrow.forward.circle.fill"), {Shape::disc, Mark::forward}},
        {QStringLiteral("arrow.uturn.left.circle"), {Shape::ring, Mark::uturn}},
        {QStringLiteral("arrow.uturn.backward"), {Shape::bare, Mark::uturn}},
        {QStringLiteral("line.3.horizontal.decrease.circle"), {Shape::funnel, Mark::none}},
        {QStringLiteral("lightbulb.fill"), {Shape::bulb, Mark::none}},
        {QStringLiteral("arrow.down.doc"), {Shape::document, Mark::none}},
        {QStringLiteral("music.note.list"), {Shape::notes, Mark::none}},
        {QStringLiteral("gear"), {Shape::gear, Mark::none}},
        {QStringLiteral("gearshape.2"), {Shape::gears, Mark::none}},
        {QStringLiteral("calendar.badge.plus"), {Shape::calendar, Mark::none}},
    };
    return drawn;
}

void drawMark(QPainter* p, Mark mark, qreal top) {
    QPainterPath path;
    switch (mark) {
    case Mark::none:
        return;
    case Mark::check:
        path.moveTo(7.5, 12.5);
        path.lineTo(10.5, 15.5);
        path.lineTo(16.5, 8.5);
        break;
    case Mark::cross:
        path.moveTo(8.5, 8.5);
        path.lineTo(15.5, 15.5);
        path.moveTo(15.5, 8.5);
        path.lineTo(8.5, 15.5);
        break;
    case Mark::exclamation:
        path.moveTo(12, 6.5 + top);
        path.lineTo(12, 13 + top);
        p->drawPath(path);
        p->drawPoint(QPointF(12, 17 + top));
        return;
    case Mark::info:
        p->drawPoint(QPointF(12, 7.2));
        path.moveTo(12, 11);
        path.lineTo(12, 17);
        break;
    case Mark::question:
        path.moveTo(9.2, 9.6);
        path.cubicTo(9.2, 6.2, 14.8, 6.2, 14.8, 9.6);
        path.cubicTo(14.8, 11.8, 12, 11.8, 12, 14);
        p->drawPath(path);
        p->drawPoint(QPointF(12, 17.2));
        return;
    case Mark::forward:
        path.moveTo(7, 12);
        path.lineTo(16.5, 12);
        path.moveTo(12.5, 8);
        path.lineTo(16.5, 12);
        path.lineTo(12.5, 16);
        break;
    case Mark::uturn:
        path.moveTo(16.5, 17);
        path.lineTo(16.5, 12);
        path.cubicTo(16.5, 9.5, 15, 8.5, 13, 8.5);
        path.lineTo(7.5, 8.5);
        path.moveTo(10.5, 5.5);
        path.lineTo(7.5, 8.5);
        path.lineTo(10.5, 11.5);
        break;
    }
    p->drawPath(path);
}

// Draws one symbol on the 24 x 24 grid in `color`.
void drawSymbol(QPainter* p, const Drawn& symbol, const QColor& color) {
    // Marks on a filled shape are cut out in a colour that stands off it.
    const QColor knockout = color.lightness() > 170 ? QColor(30, 30, 32) : QColor(Qt::white);
    QPen pen(color, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p->setPen(pen);
    p->setBrush(Qt::NoBrush);
    QPen markPen = pen;
    qreal markTop = 0;
    switch (symbol.shape) {
    case Shape::ring:
        p->drawEllipse(QPointF(12, 12), 9.5, 9.5);
        break;
    case Shape::disc:
        p->setPen(Qt::NoPen);
        p->setBrush(color);
        p->drawEllipse(QPointF(12, 12), 11, 11);
        markPen.setColor(knockout);
        break;
    case Shape::triangle:
    case Shape::solidTriangle: {
        QPainterPath triangle;
        triangle.moveTo(12, 2.5);
        triangle.lineTo(22, 20.5);
        triangle.lineTo(2, 20.5);
        triangle.closeSubpath();
        if (symbol.shape == Shape::solidTriangle) {
            p->setBrush(color);
            markPen.setColor(knockout);
        }
        p->drawPath(triangle);
        markTop = 1.5;
        break;
    }
    case Shape::clock:
        p->drawEllipse(QPointF(12, 12), 9.5, 9.5);
        p->drawPolyline(QList<QPointF>{{12, 6.5}, {12, 12}, {15.5, 14.5}});
        break;
    case Shape::magnifier:
        p->drawEllipse(QPointF(10, 10), 6.5, 6.5);
        p->setPen(QPen(color, 2.6, Qt::SolidLine, Qt::RoundCap));
        p->drawLine(QPointF(15, 15), QPointF(20.5, 20.5));
        break;
    case Shape::funnel:
        p->drawPolygon(
            QList<QPointF>{{3.5, 4.5}, {20.5, 4.5}, {14, 12.5}, {14, 19.5}, {10, 17.5}, {10, 12.5}});
        break;
    case Shape::bulb: {
        p->setPen(Qt::NoPen);
        p->setBrush(color);
        p->drawEllipse(QPointF(12, 9.5), 6.5, 6.5);
        p->drawPolygon(QList<QPointF>{{8.5, 13}, {15.5, 13}, {14.8, 16.5}, {9.2, 16.5}});
        p->setPen(pen);
        p->drawLine(QPointF(9.5, 19), QPointF(14.5, 19));
        p->drawLine(QPointF(10.5, 21.5), QPointF(13.5, 21.5));
        break;
    }
    case Shape::document:
        p->drawPolygon(QList<QPointF>{{5.5, 2.5}, {14, 2.5}, {18.5, 7}, {18.5, 21.5}, {5.5, 21.5}});
        p->drawPolyline(QList<QPointF>{{12, 9}, {12, 17}});
        p->drawPolyline(QList<QPointF>{{8.8, 13.8}, {12, 17}, {15.2, 13.8}});
        break;
    case Shape::notes:
        for (const qreal y : {5.0, 9.5, 14.0}) {
            p->drawLine(QPointF(2.5, y), QPointF(y < 14 ? 11 : 8, y));
        }
        p->drawPolyline(QList<QPointF>{{17, 17}, {17, 3.5}, {21, 5}});
        p->setBrush(color);
        p->drawEllipse(QPointF(14.3, 17.5), 2.8, 2.2);
        break;
    case Shape::gear: {
        QPainterPath wheel;
        wheel.setFillRule(Qt::WindingFill);
        wheel.addEllipse(QPointF(12, 12), 7.5, 7.5);
        for (int tooth = 0; tooth < 8; ++tooth) {
            QTransform turn;
            turn.translate(12, 12).rotate(tooth * 45.0).translate(-12, -12);
            QPainterPath rect;
            rect.addRect(QRectF(10.2, 1.8, 3.6, 5));
            wheel.addPath(turn.map(rect));
        }
        QPainterPath hole;
        hole.addEllipse(QPointF(12, 12), 3, 3);
        p->setPen(Qt::NoPen);
        p->setBrush(color);
        p->drawPath(wheel.simplified().subtracted(hole));
        break;
    }
    case Shape::gears:
        // Two gears in mesh: a large one top left, a small one bottom right.
        for (const auto& [x, y, scale] : {std::tuple{-1.0, -1.0, 0.62}, std::tuple{9.5, 9.5, 0.5}}) {
            p->save();
            p->translate(x + 2, y + 2);
            p->scale(scale, scale);
            drawSymbol(p, {Shape::gear, Mark::none}, color);
            p->restore();
        }
        break;
    case Shape::calendar:
        p->drawRoundedRect(QRectF(3, 4.5, 18, 16.5), 2.5, 2.5);
        p->drawLine(QPointF(3, 9.5), QPointF(21, 9.5));
        p->drawLine(QPointF(8, 2.5), QPointF(8, 6));
        p->drawLine(QPointF(16, 2.5), QPointF(16, 6));
        p->drawLine(QPointF(12, 12.5), QPointF(12, 18.5));
        p->drawLine(QPointF(9, 15.5), QPointF(15, 15.5));
        break;
    case Shape::bare:
        break;
    }
    p->setPen(markPen);
    p->setBrush(Qt::NoBrush);
    drawMark(p, symbol.mark, markTop);
}

// Paints a drawn symbol at the size asked for, dimmed when disabled.
class DrawnIconEngine : public QIconEngine {
public:
    DrawnIconEngine(const Drawn& symbol, const QColor& color) : m_symbol(symbol), m_color(color) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        QColor color = m_color.isValid() ? m_color : QApplication::palette().color(QPalette::WindowText);
        if (mode == QIcon::Disabled) {
            color.setAlphaF(0.45);
        }
        const qreal side = std::min(rect.width(), rect.height());
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2);
        painter->scale(side / 24.0, side / 24.0);
        drawSymbol(painter, m_symbol, color);
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return pixmap;
    }
    QIconEngine* clone() const override { return new DrawnIconEngine(*this); }

private:
    Drawn m_symbol;
    QColor m_color;
};

struct ThemeIcon {
    const char* theme;
    QStyle::StandardPixmap fallback;
};

} // namespace

QIcon Look::symbolIcon(const QString& symbolName, const QColor& color) {
    const auto drawn = drawnSymbols().constFind(symbolName);
    if (drawn != drawnSymbols().constEnd()) {
        return QIcon(new DrawnIconEngine(*drawn, color));
    }
    static const QHash<QString, ThemeIcon> map{
        {QStringLiteral("person.crop.rectangle.stack"),
         {"view-list-details", QStyle::SP_FileDialogDetailedView}},
        {QStringLiteral("gearshape.2"), {"system-run", QStyle::SP_BrowserReload}},
        {QStringLiteral("gear"), {"preferences-system", QStyle::SP_FileDialogInfoView}},
        {QStringLiteral("questionmark.circle"), {"help-contents", QStyle::SP_MessageBoxQuestion}},
        {QStringLiteral("flag.checkered"), {"go-home", QStyle::SP_DirHomeIcon}},
        {QStringLiteral("exclamationmark.triangle"), {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("magnifyingglass.circle"), {"edit-find", QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("info.circle.fill"), {"dialog-information", QStyle::SP_MessageBoxInformation}},
        {QStringLiteral("lightbulb.fill"), {"help-hint", QStyle::SP_DialogHelpButton}},
        {QStringLiteral("book.pages"), {"help-contents", QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("exclamationmark.shield.fill"), {"security-medium", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("externaldrive.fill"), {"drive-harddisk", QStyle::SP_DriveHDIcon}},
        {QStringLiteral("shield.slash.fill"), {"security-low", QStyle::SP_MessageBoxCritical}},
        {QStringLiteral("network"), {"network-workgroup", QStyle::SP_DriveNetIcon}},
        {QStringLiteral("c.circle.fill"), {"document-properties", QStyle::SP_FileIcon}},
        {QStringLiteral("folder"), {"folder", QStyle::SP_DirIcon}},
        {QStringLiteral("play.circle.fill"), {"media-playback-start", QStyle::SP_MediaPlay}},
        {QStringLiteral("stop.circle.fill"), {"media-playback-stop", QStyle::SP_MediaStop}},
        {QStringLiteral("info.circle"), {"dialog-information", QStyle::SP_MessageBoxInformation}},
        {QStringLiteral("checkmark.circle.fill"), {"emblem-ok", QStyle::SP_DialogApplyButton}},
        {QStringLiteral("arrow.forward.circle.fill"), {"go-next", QStyle::SP_ArrowForward}},
        {QStringLiteral("exclamationmark.circle.fill"), {"dialog-error", QStyle::SP_MessageBoxCritical}},
        {QStringLiteral("exclamationmark.circle"), {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("exclamationmark.triangle.fill"), {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("arrow.uturn.backward"), {"edit-undo", QStyle::SP_ArrowBack}},
        // The settings screen.
        {QStringLiteral("arrow.left.arrow.right"), {"edit-find-replace", QStyle::SP_FileDialogDetailedView}},
        {QStringLiteral("globe"), {"applications-internet", QStyle::SP_DriveNetIcon}},
        {QStringLiteral("cpu"), {"cpu", QStyle::SP_ComputerIcon}},
        {QStringLiteral("slider.horizontal.3"), {"configure", QStyle::SP_FileDialogListView}},
        {QStringLiteral("paintbrush"), {"preferences-desktop-theme", QStyle::SP_DesktopIcon}},
        {QStringLiteral("plus.circle.fill"), {"list-add", QStyle::SP_FileDialogNewFolder}},
        {QStringLiteral("minus.circle.fill"), {"list-remove", QStyle::SP_DialogDiscardButton}},
        {QStringLiteral("square.and.arrow.up"), {"document-export", QStyle::SP_DialogSaveButton}},
        {QStringLiteral("square.and.arrow.down"), {"document-import", QStyle::SP_DialogOpenButton}},
        {QStringLiteral("xmark.circle.fill"), {"edit-clear", QStyle::SP_LineEditClearButton}},
        {QStringLiteral("arrow.clockwise"), {"view-refresh", QStyle::SP_BrowserReload}},
        {QStringLiteral("xmark.octagon.fill"), {"dialog-error", QStyle::SP_MessageBoxCritical}},
        {QStringLiteral("doc.text.magnifyingglass"), {"document-open", QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("trash"), {"edit-delete", QStyle::SP_TrashIcon}},
        {QStringLiteral("arrow.up.right"), {"go-next", QStyle::SP_ArrowRight}},
        {QStringLiteral("exclamationmark.shield"), {"security-medium", QStyle::SP_MessageBoxWarning}},
        // The Manual mode screen.
        {QStringLiteral("magnifyingglass"), {"edit-find", QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("square.and.pencil"), {"document-save", QStyle::SP_DialogSaveButton}},
        {QStringLiteral("xmark.circle"), {"process-stop", QStyle::SP_DialogCancelButton}},
        {QStringLiteral("clock"), {"appointment-soon", QStyle::SP_BrowserReload}},
        {QStringLiteral("checkmark.circle"), {"emblem-default", QStyle::SP_DialogApplyButton}},
        {QStringLiteral("arrow.uturn.left.circle"), {"go-previous", QStyle::SP_ArrowLeft}},
        {QStringLiteral("line.3.horizontal.decrease.circle"), {"view-filter", QStyle::SP_FileDialogListView}},
        {QStringLiteral("arrow.down.doc"), {"document-import", QStyle::SP_ArrowDown}},
        {QStringLiteral("music.note.list"), {"audio-x-generic", QStyle::SP_MediaVolume}},
        {QStringLiteral("calendar.badge.plus"), {"x-office-calendar", QStyle::SP_FileDialogDetailedView}},
        {QStringLiteral("arrow.right"), {"go-next", QStyle::SP_ArrowRight}},
    };
    const auto found = map.constFind(symbolName);
    if (found == map.constEnd()) {
        return {};
    }
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(found->theme));
    return themed.isNull() ? QApplication::style()->standardIcon(found->fallback) : themed;
}
