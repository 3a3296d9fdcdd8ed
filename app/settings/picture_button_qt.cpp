#include <QPainter>
#include <QPainterPath>

#include "app/settings/picture_button.h"

namespace {

constexpr int kSide = 28;

QColor tileColor(PictureButton::Glyph glyph) {
    switch (glyph) {
        case PictureButton::Glyph::Save:
            return QColor(0x1f, 0x9d, 0x55);
        case PictureButton::Glyph::Send:
            return QColor(0x2f, 0x80, 0xed);
        case PictureButton::Glyph::Close:
            break;
    }
    return QColor(0x5b, 0x6b, 0x7f);
}

}  // namespace

PictureButton::PictureButton(int controlId, Glyph glyph, const QString& caption, QWidget* parent)
    : QAbstractButton(parent), m_controlId(controlId), m_glyph(glyph) {
    setObjectName(QString("id%1").arg(controlId));
    setText(caption);
    setToolTip(caption);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize PictureButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {qMax(kSide + 16, metrics.horizontalAdvance(text()) + 14),
            kSide + 8 + metrics.height() + 2};
}

void PictureButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (m_hover || isDown()) {
        p.setPen(Qt::NoPen);
        p.setBrush(isDown() ? QColor(0, 0, 0, 40) : QColor(0x2f, 0x80, 0xed, 28));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    }
    const QRectF tile((width() - kSide) / 2.0, 4 + (isDown() ? 1 : 0), kSide, kSide);
    const QColor color = tileColor(m_glyph);
    QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
    fill.setColorAt(0, color.lighter(125));
    fill.setColorAt(1, color);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(tile, kSide * 0.22, kSide * 0.22);

    const QRectF g = tile.adjusted(kSide * 0.25, kSide * 0.25, -kSide * 0.25, -kSide * 0.25);
    QPen pen(Qt::white, kSide * 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (m_glyph) {
        case Glyph::Save: {  // a check mark
            QPainterPath tick;
            tick.moveTo(g.left(), g.center().y());
            tick.lineTo(g.left() + g.width() * 0.38, g.bottom());
            tick.lineTo(g.right(), g.top());
            p.drawPath(tick);
            break;
        }
        case Glyph::Send: {  // a paper plane
            QPainterPath plane;
            plane.moveTo(g.left(), g.center().y());
            plane.lineTo(g.right(), g.top());
            plane.lineTo(g.center().x(), g.bottom());
            plane.closeSubpath();
            p.drawPath(plane);
            break;
        }
        case Glyph::Close:
            p.drawLine(g.topLeft(), g.bottomRight());
            p.drawLine(g.topRight(), g.bottomLeft());
            break;
    }
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(0, int(tile.bottom()) + 2, width(), height() - int(tile.bottom()) - 2),
               Qt::AlignHCenter | Qt::AlignTop, text());
}

void PictureButton::enterEvent(QEnterEvent*) {
    m_hover = true;
    update();
}

void PictureButton::leaveEvent(QEvent*) {
    m_hover = false;
    update();
}
