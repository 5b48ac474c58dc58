#pragma once

#include <QPointer>
#include <QWidget>

// The product card: name, icon, version, the maker's logo and the rights
// line, drawn bottom-aligned. Embedded, it fills the About window. Not
// embedded, it is the start-up card over the main window: a fixed 340×420
// card with rounded corners and a shadow, placed by placeOver(); the shadow
// lives on a sibling that lets every click through, so only the card itself
// takes clicks. The card never takes focus.
class SplashScreenView : public QWidget {
    Q_OBJECT
public:
    static constexpr int cardWidth = 340;
    static constexpr int cardHeight = 420;

    explicit SplashScreenView(bool isEmbedded, QWidget* parent = nullptr);
    ~SplashScreenView() override;

    bool isEmbedded() const { return m_embedded; }
    // "Version <version> (<build>)"
    static QString versionLine();

    // The whole card, shadow included, fades with this.
    void setOpacity(qreal opacity);
    qreal opacity() const { return m_opacity; }

    // Start-up card: centres the card in `area` (parent coordinates) and
    // spreads the shadow layer over it.
    void placeOver(const QRect& area);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool m_embedded;
    qreal m_opacity = 1.0;
    QPointer<QWidget> m_shadow;
};
