#include "app/SplashScreenView.h"

#include "model/AppVersion.h"
#include "ui/Look.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

namespace {

constexpr qreal cornerRadius = 12;
constexpr int shadowBlur = 32;
constexpr int shadowOffsetY = 12;

QRectF cardRectIn(const QRect& area) {
    return QRectF(area.x() + (area.width() - SplashScreenView::cardWidth) / 2.0,
                  area.y() + (area.height() - SplashScreenView::cardHeight) / 2.0,
                  SplashScreenView::cardWidth, SplashScreenView::cardHeight);
}

// The card's soft shadow, drawn in layers; mouse events go through it.
class CardShadow : public QWidget {
public:
    CardShadow(SplashScreenView* card, QWidget* parent) : QWidget(parent), m_card(card) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (m_card == nullptr) {
            return;
        }
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        const QRectF card = QRectF(m_card->geometry()).translated(-pos()).translated(0, shadowOffsetY);
        constexpr int layers = 16;
        for (int i = layers; i >= 1; --i) {
            const qreal grow = shadowBlur * i / qreal(layers);
            p.setBrush(QColor(0, 0, 0, int(255 * 0.35 * m_card->opacity() / layers)));
            p.drawRoundedRect(card.adjusted(-grow / 2, -grow / 2, grow / 2, grow / 2),
                              cornerRadius + grow / 2, cornerRadius + grow / 2);
        }
    }

private:
    QPointer<SplashScreenView> m_card;
};

} // namespace

SplashScreenView::SplashScreenView(bool isEmbedded, QWidget* parent)
    : QWidget(parent), m_embedded(isEmbedded) {
    setFocusPolicy(Qt::NoFocus);
    setObjectName(QStringLiteral("splash"));
    if (!m_embedded) {
        setFixedSize(cardWidth, cardHeight);
        setAttribute(Qt::WA_TranslucentBackground);
        if (parent != nullptr) {
            m_shadow = new CardShadow(this, parent);
        }
    }
}

SplashScreenView::~SplashScreenView() {
    delete m_shadow.data();
}

QString SplashScreenView::versionLine() {
    return QStringLiteral("Version ") + appVersionString() + QStringLiteral(" (") + appBuildString() +
           QLatin1Char(')');
}

void SplashScreenView::setOpacity(qreal opacity) {
    m_opacity = opacity;
    update();
    if (m_shadow != nullptr) {
        m_shadow->update();
    }
}

void SplashScreenView::placeOver(const QRect& area) {
    if (m_shadow != nullptr) {
        m_shadow->setGeometry(area);
        m_shadow->raise();
    }
    setGeometry(cardRectIn(area).toRect());
    raise();
}

void SplashScreenView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setOpacity(m_opacity);
    const QPalette& pal = palette();
    const QRectF bounds = rect();

    if (m_embedded) {
        p.fillRect(bounds, pal.color(QPalette::Window));
    } else {
        QPainterPath card;
        card.addRoundedRect(bounds, cornerRadius, cornerRadius);
        p.fillPath(card, pal.color(QPalette::Window));
        QColor border = pal.color(QPalette::WindowText);
        border.setAlphaF(0.15);
        p.setPen(QPen(border, 2));
        p.drawRoundedRect(bounds.adjusted(1, 1, -1, -1), cornerRadius - 1, cornerRadius - 1);
    }

    QFont titleFont = font();
    titleFont.setPixelSize(32);
    titleFont.setBold(true);
    QFont monoFont = Look::monospace();
    monoFont.setPixelSize(12);
    QFont captionFont = font();
    captionFont.setPixelSize(11);

    const QPixmap icon = QApplication::windowIcon().pixmap(90, 90);
    const QPixmap logo = Look::makerLogo(pal);
    const int logoHeight = logo.isNull() ? 0 : qRound(200.0 * logo.height() / logo.width());
    const int titleHeight = QFontMetrics(titleFont).height();
    const int monoHeight = QFontMetrics(monoFont).height();
    const int captionHeight = QFontMetrics(captionFont).height();
    const int contentHeight = titleHeight + 18 + (icon.isNull() ? 0 : 90) + 18 + monoHeight + 28 + 1 + 18 +
                              captionHeight + 10 + logoHeight + 16 + captionHeight + 12;

    const QColor secondary = pal.color(QPalette::PlaceholderText);
    const qreal left = 32;
    const qreal width = bounds.width() - 64;
    qreal y = bounds.height() - contentHeight;
    const auto line = [&](const QFont& f, const QColor& color, const QString& text, int height) {
        p.setFont(f);
        p.setPen(color);
        p.drawText(QRectF(left, y, width, height), Qt::AlignHCenter | Qt::AlignVCenter, text);
        y += height;
    };

    line(titleFont, pal.color(QPalette::WindowText), QStringLiteral("Velmora"), titleHeight);
    y += 18;
    if (!icon.isNull()) {
        p.drawPixmap(QRectF((bounds.width() - 90) / 2, y, 90, 90), icon, icon.rect());
        y += 90;
    }
    y += 18;
    line(monoFont, secondary, versionLine(), monoHeight);
    y += 28;
    QColor divider = pal.color(QPalette::WindowText);
    divider.setAlphaF(0.4 * 0.25);
    p.fillRect(QRectF((bounds.width() - 180) / 2, y, 180, 1), divider);
    y += 1 + 18;
    line(captionFont, secondary, QStringLiteral("Powered by"), captionHeight);
    y += 10;
    if (!logo.isNull()) {
        p.drawPixmap(QRectF((bounds.width() - 200) / 2, y, 200, logoHeight), logo, logo.rect());
        y += logoHeight;
    }
    y += 16;
    line(captionFont, secondary, Look::rightsLine(), captionHeight);
}

void SplashScreenView::mousePressEvent(QMouseEvent* event) {
    // The About window is moved by dragging anywhere on it.
    if (m_embedded && event->button() == Qt::LeftButton && window()->windowHandle() != nullptr) {
        window()->windowHandle()->startSystemMove();
    }
    event->accept();
}
