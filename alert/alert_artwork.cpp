#include "alert/alert_artwork.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace alert_artwork {

namespace {

// A shield with an exclamation mark: the warning counterpart of the
// application's shield with a check mark.
void drawWarningShield(QPainter& p, const QRectF& r) {
    QPainterPath path;
    const qreal w = r.width(), h = r.height();
    path.moveTo(r.left() + w * 0.5, r.top());
    path.cubicTo(r.left() + w * 0.72, r.top() + h * 0.09, r.left() + w * 0.88, r.top() + h * 0.11,
                 r.right(), r.top() + h * 0.12);
    path.cubicTo(r.right(), r.top() + h * 0.55, r.left() + w * 0.82, r.top() + h * 0.82,
                 r.left() + w * 0.5, r.bottom());
    path.cubicTo(r.left() + w * 0.18, r.top() + h * 0.82, r.left(), r.top() + h * 0.55, r.left(),
                 r.top() + h * 0.12);
    path.cubicTo(r.left() + w * 0.12, r.top() + h * 0.11, r.left() + w * 0.28, r.top() + h * 0.09,
                 r.left() + w * 0.5, r.top());
    path.closeSubpath();
    QLinearGradient fill(r.topLeft(), r.bottomRight());
    fill.setColorAt(0, QColor(0xff, 0x7a, 0x59));
    fill.setColorAt(1, QColor(0xb3, 0x1b, 0x1b));
    p.setPen(QPen(QColor(0x5c, 0x0d, 0x0d), qMax<qreal>(1.0, w / 32.0)));
    p.setBrush(fill);
    p.drawPath(path);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    const qreal bar = w * 0.13;
    p.drawRoundedRect(QRectF(r.center().x() - bar / 2, r.top() + h * 0.22, bar, h * 0.36), bar / 2,
                      bar / 2);
    p.drawEllipse(QRectF(r.center().x() - bar * 0.6, r.top() + h * 0.64, bar * 1.2, bar * 1.2));
}

}  // namespace

QPixmap banner(QSize size, qreal devicePixelRatio) {
    if (devicePixelRatio <= 0) devicePixelRatio = 1;
    QPixmap out(size * devicePixelRatio);
    out.setDevicePixelRatio(devicePixelRatio);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF r(QPointF(0, 0), QSizeF(size));

    QLinearGradient sky(r.topLeft(), r.bottomRight());
    sky.setColorAt(0, QColor(0x12, 0x2b, 0x4a));
    sky.setColorAt(1, QColor(0x3a, 0x10, 0x18));
    p.fillRect(r, sky);
    // A red band along the bottom edge.
    p.fillRect(QRectF(r.left(), r.bottom() - r.height() * 0.06, r.width(), r.height() * 0.06),
               QColor(0xd6, 0x33, 0x2a));

    const qreal side = r.height() * 0.62;
    const QRectF shield(r.left() + r.height() * 0.22, r.top() + (r.height() - side) / 2 - 2,
                        side * 0.9, side);
    drawWarningShield(p, shield);

    const qreal textLeft = shield.right() + r.height() * 0.22;
    QFont title = p.font();
    title.setPixelSize(qMax(12, int(r.height() * 0.2)));
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    const QRectF titleBox(textLeft, r.top() + r.height() * 0.22, r.right() - textLeft - 8,
                          r.height() * 0.3);
    p.drawText(titleBox, Qt::AlignLeft | Qt::AlignVCenter, "Threat Detected");
    QFont sub = p.font();
    sub.setBold(false);
    const QString subText = "Orvane Real-Time Protection found a known malicious file.";
    // As large as the banner allows, and never cut off.
    for (int pixels = qMax(9, int(r.height() * 0.1)); pixels >= 7; --pixels) {
        sub.setPixelSize(pixels);
        if (QFontMetricsF(sub).horizontalAdvance(subText) <= titleBox.width()) break;
    }
    p.setFont(sub);
    p.setPen(QColor(0xe8, 0xc9, 0xc9));
    const QRectF subBox(textLeft, titleBox.bottom(), titleBox.width(), r.height() * 0.2);
    p.drawText(subBox, Qt::AlignLeft | Qt::AlignVCenter, subText);
    return out;
}

}  // namespace alert_artwork
