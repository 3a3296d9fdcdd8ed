#include "app/shell/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

namespace artwork {
namespace {

const QColor kNavy(0x12, 0x2b, 0x4a);
const QColor kTeal(0x14, 0x9c, 0x9c);
const QColor kAccent(0x2f, 0x80, 0xed);

QPainterPath shieldPath(const QRectF& r) {
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
    return path;
}

void drawShield(QPainter& p, const QRectF& r) {
    QLinearGradient fill(r.topLeft(), r.bottomRight());
    fill.setColorAt(0, QColor(0x2f, 0xc4, 0xb2));
    fill.setColorAt(1, QColor(0x0b, 0x4f, 0x8a));
    p.setPen(QPen(kNavy, qMax<qreal>(1.0, r.width() / 32.0)));
    p.setBrush(fill);
    p.drawPath(shieldPath(r));
    // The check mark.
    QPen check(Qt::white, r.width() * 0.11, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(check);
    p.setBrush(Qt::NoBrush);
    QPainterPath mark;
    mark.moveTo(r.left() + r.width() * 0.28, r.top() + r.height() * 0.50);
    mark.lineTo(r.left() + r.width() * 0.45, r.top() + r.height() * 0.66);
    mark.lineTo(r.left() + r.width() * 0.74, r.top() + r.height() * 0.34);
    p.drawPath(mark);
}

void drawScanButton(QPainter& p, const QRectF& r, bool stop) {
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    if (stop) {
        fill.setColorAt(0, QColor(0xf0, 0x5a, 0x4f));
        fill.setColorAt(1, QColor(0xb3, 0x26, 0x1e));
    } else {
        fill.setColorAt(0, QColor(0x3c, 0xc7, 0x6a));
        fill.setColorAt(1, QColor(0x1c, 0x8a, 0x42));
    }
    const QRectF box = r.adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(stop ? QColor(0x8a, 0x1c, 0x15) : QColor(0x14, 0x66, 0x31), 1));
    p.setBrush(fill);
    p.drawRoundedRect(box, 6, 6);
    // Glyph: a play triangle or a stop square in a white disc.
    const qreal d = r.height() * 0.62;
    const QRectF disc(r.left() + r.height() * 0.25, r.center().y() - d / 2, d, d);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 235));
    p.drawEllipse(disc);
    p.setBrush(stop ? QColor(0xb3, 0x26, 0x1e) : QColor(0x1c, 0x8a, 0x42));
    if (stop) {
        p.drawRect(
            QRectF(disc.center().x() - d * 0.18, disc.center().y() - d * 0.18, d * 0.36, d * 0.36));
    } else {
        QPolygonF tri;
        tri << QPointF(disc.left() + d * 0.38, disc.top() + d * 0.26)
            << QPointF(disc.left() + d * 0.38, disc.bottom() - d * 0.26)
            << QPointF(disc.right() - d * 0.24, disc.center().y());
        p.drawPolygon(tri);
    }
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(qRound(r.height() * 0.42));
    p.setFont(font);
    p.setPen(Qt::white);
    const QRectF text(disc.right() + 6, r.top(), r.right() - disc.right() - 10, r.height());
    p.drawText(text, Qt::AlignVCenter | Qt::AlignHCenter, stop ? "STOP SCAN" : "START SCAN");
}

// A rounded tile with a glyph; used for the social buttons and the tools.
void drawTile(QPainter& p, const QRectF& r, const QColor& color) {
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, color.lighter(125));
    fill.setColorAt(1, color);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), r.width() * 0.22, r.width() * 0.22);
}

void drawSocial(QPainter& p, const QRectF& r, int id) {
    const QRectF square(r.left(), r.top() + (r.height() - r.width()) / 2, r.width(), r.width());
    const QRectF g = square.adjusted(square.width() * 0.24, square.width() * 0.24,
                                     -square.width() * 0.24, -square.width() * 0.24);
    const qreal u = g.width();
    QPen pen(Qt::white, u * 0.14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (id) {
        case kSocial1: {  // a community: two heads
            drawTile(p, square, QColor(0x3b, 0x5b, 0x98));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawEllipse(QRectF(g.left() + u * 0.08, g.top() + u * 0.05, u * 0.36, u * 0.36));
            p.drawEllipse(QRectF(g.left() + u * 0.56, g.top() + u * 0.05, u * 0.36, u * 0.36));
            p.drawChord(QRectF(g.left(), g.top() + u * 0.48, u * 0.52, u * 0.7), 0, 180 * 16);
            p.drawChord(QRectF(g.left() + u * 0.48, g.top() + u * 0.48, u * 0.52, u * 0.7), 0,
                        180 * 16);
            break;
        }
        case kSocial2: {  // a speech bubble
            drawTile(p, square, QColor(0x1d, 0xa1, 0xf2));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawRoundedRect(QRectF(g.left(), g.top() + u * 0.05, u, u * 0.66), u * 0.2, u * 0.2);
            QPolygonF tail;
            tail << QPointF(g.left() + u * 0.2, g.top() + u * 0.6)
                 << QPointF(g.left() + u * 0.15, g.bottom())
                 << QPointF(g.left() + u * 0.5, g.top() + u * 0.65);
            p.drawPolygon(tail);
            break;
        }
        case kSocial3: {  // a video: play triangle
            drawTile(p, square, QColor(0xe0, 0x2f, 0x2f));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            QPolygonF tri;
            tri << QPointF(g.left() + u * 0.22, g.top() + u * 0.08)
                << QPointF(g.left() + u * 0.22, g.bottom() - u * 0.08)
                << QPointF(g.right() - u * 0.05, g.center().y());
            p.drawPolygon(tri);
            break;
        }
        default: {  // kSocial4: a news feed
            drawTile(p, square, QColor(0xf2, 0x8c, 0x28));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawEllipse(QRectF(g.left(), g.bottom() - u * 0.26, u * 0.26, u * 0.26));
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(g.left() - u * 0.5, g.bottom() - u * 0.5 - u * 0.05, u * 1.1, u * 1.1),
                      0, 90 * 16);
            p.drawArc(QRectF(g.left() - u * 0.9, g.bottom() - u * 0.9 - u * 0.05, u * 1.9, u * 1.9),
                      0, 90 * 16);
            break;
        }
    }
}

void drawGear(QPainter& p, const QRectF& g) {
    const QPointF c = g.center();
    const qreal outer = g.width() * 0.5, inner = g.width() * 0.36;
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal a0 = (i * M_PI) / teeth, a1 = ((i + 1) * M_PI) / teeth;
        const qreal r = (i % 2 == 0) ? outer : inner;
        const QPointF p0(c.x() + r * qCos(a0), c.y() + r * qSin(a0));
        const QPointF p1(c.x() + r * qCos(a1), c.y() + r * qSin(a1));
        if (i == 0)
            gear.moveTo(p0);
        else
            gear.lineTo(p0);
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    gear.addEllipse(c, g.width() * 0.15, g.width() * 0.15);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(gear);
}

void drawTool(QPainter& p, const QRectF& r, int id) {
    const QRectF g =
        r.adjusted(r.width() * 0.22, r.height() * 0.22, -r.width() * 0.22, -r.height() * 0.22);
    const qreal u = g.width();
    QPen pen(Qt::white, u * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (id) {
        case 1026: {  // results: a report sheet with lines
            drawTile(p, r, QColor(0x2f, 0x80, 0xed));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawRoundedRect(QRectF(g.left() + u * 0.12, g.top(), u * 0.76, u), u * 0.1, u * 0.1);
            p.setPen(QPen(QColor(0x2f, 0x80, 0xed), u * 0.08, Qt::SolidLine, Qt::RoundCap));
            for (int i = 0; i < 4; ++i) {
                const qreal y = g.top() + u * (0.22 + i * 0.19);
                p.drawLine(QPointF(g.left() + u * 0.26, y), QPointF(g.right() - u * 0.26, y));
            }
            break;
        }
        case 1033:  // settings: a gear
            drawTile(p, r, QColor(0x5b, 0x6b, 0x7f));
            drawGear(p, g);
            break;
        case 1035: {  // real time protection: a shield with a pulse
            drawTile(p, r, QColor(0x14, 0x9c, 0x7c));
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(255, 255, 255, 60));
            p.drawPath(shieldPath(g));
            p.setPen(pen);
            QPainterPath pulse;
            pulse.moveTo(g.left(), g.center().y());
            pulse.lineTo(g.left() + u * 0.3, g.center().y());
            pulse.lineTo(g.left() + u * 0.42, g.top() + u * 0.22);
            pulse.lineTo(g.left() + u * 0.58, g.bottom() - u * 0.18);
            pulse.lineTo(g.left() + u * 0.7, g.center().y());
            pulse.lineTo(g.right(), g.center().y());
            p.setBrush(Qt::NoBrush);
            p.drawPath(pulse);
            break;
        }
        case 1045: {  // schedule: a clock
            drawTile(p, r, QColor(0x8e, 0x44, 0xad));
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(g);
            p.drawLine(g.center(), QPointF(g.center().x(), g.top() + u * 0.22));
            p.drawLine(g.center(), QPointF(g.center().x() + u * 0.22, g.center().y() + u * 0.08));
            break;
        }
        case 1069: {  // update: two arrows in a circle
            drawTile(p, r, QColor(0x27, 0xae, 0x60));
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            const QRectF ring = g.adjusted(u * 0.08, u * 0.08, -u * 0.08, -u * 0.08);
            p.drawArc(ring, 30 * 16, 150 * 16);
            p.drawArc(ring, 210 * 16, 150 * 16);
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            const qreal a = u * 0.22;
            const QPointF tip1(ring.left(), ring.center().y());
            p.drawPolygon(QPolygonF() << tip1 + QPointF(-a, -a * 0.2) << tip1 + QPointF(a, -a * 0.2)
                                      << tip1 + QPointF(0, a * 0.8));
            const QPointF tip2(ring.right(), ring.center().y());
            p.drawPolygon(QPolygonF() << tip2 + QPointF(-a, a * 0.2) << tip2 + QPointF(a, a * 0.2)
                                      << tip2 + QPointF(0, -a * 0.8));
            break;
        }
        case 1005: {  // exit: a power symbol
            drawTile(p, r, QColor(0xc0, 0x39, 0x2b));
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            const QRectF ring = g.adjusted(u * 0.06, u * 0.1, -u * 0.06, -u * 0.02);
            p.drawArc(ring, 120 * 16, 300 * 16);
            p.drawLine(QPointF(g.center().x(), g.top()), QPointF(g.center().x(), g.center().y()));
            break;
        }
        case 3: {  // about: an "i" in a circle
            drawTile(p, r, QColor(0x34, 0x49, 0x5e));
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(g);
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(g.center().x(), g.top() + u * 0.28), u * 0.08, u * 0.08);
            p.drawRoundedRect(
                QRectF(g.center().x() - u * 0.07, g.top() + u * 0.44, u * 0.14, u * 0.36), u * 0.05,
                u * 0.05);
            break;
        }
        case 1: {  // close: a cross
            drawTile(p, r, QColor(0x5b, 0x6b, 0x7f));
            p.setPen(pen);
            p.drawLine(g.topLeft() + QPointF(u * 0.15, u * 0.15),
                       g.bottomRight() - QPointF(u * 0.15, u * 0.15));
            p.drawLine(g.topRight() + QPointF(-u * 0.15, u * 0.15),
                       g.bottomLeft() + QPointF(u * 0.15, -u * 0.15));
            break;
        }
        case 1004: {  // web link: a globe
            drawTile(p, r, QColor(0x2f, 0x80, 0xed));
            p.setPen(QPen(Qt::white, u * 0.08));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(g);
            p.drawEllipse(QRectF(g.center().x() - u * 0.22, g.top(), u * 0.44, u));
            p.drawLine(QPointF(g.left(), g.center().y()), QPointF(g.right(), g.center().y()));
            break;
        }
        case kArtDeleteAll:
        case kArtDeleteSelected: {  // a bin, with a tick for the selected rows
            drawTile(p, r, QColor(0xc0, 0x39, 0x2b));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawRoundedRect(QRectF(g.left(), g.top() + u * 0.08, u, u * 0.12), u * 0.04,
                              u * 0.04);
            p.drawRect(QRectF(g.left() + u * 0.36, g.top(), u * 0.28, u * 0.1));
            p.drawRoundedRect(QRectF(g.left() + u * 0.12, g.top() + u * 0.26, u * 0.76, u * 0.74),
                              u * 0.08, u * 0.08);
            p.setPen(QPen(QColor(0xc0, 0x39, 0x2b), u * 0.08, Qt::SolidLine, Qt::RoundCap));
            if (id == kArtDeleteSelected) {
                p.drawLine(QPointF(g.left() + u * 0.3, g.top() + u * 0.62),
                           QPointF(g.left() + u * 0.46, g.top() + u * 0.78));
                p.drawLine(QPointF(g.left() + u * 0.46, g.top() + u * 0.78),
                           QPointF(g.left() + u * 0.72, g.top() + u * 0.44));
            } else {
                for (int i = 0; i < 3; ++i) {
                    const qreal x = g.left() + u * (0.32 + i * 0.18);
                    p.drawLine(QPointF(x, g.top() + u * 0.4), QPointF(x, g.top() + u * 0.86));
                }
            }
            break;
        }
        case kArtQuarantine:
        case kArtQuarantineAll: {  // a locked box, with a tick for the selected rows
            drawTile(p, r, QColor(0xd3, 0x84, 0x00));
            p.setPen(QPen(Qt::white, u * 0.1));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(g.left() + u * 0.26, g.top(), u * 0.48, u * 0.56), 0, 180 * 16);
            p.drawLine(QPointF(g.left() + u * 0.26, g.top() + u * 0.28),
                       QPointF(g.left() + u * 0.26, g.top() + u * 0.42));
            p.drawLine(QPointF(g.left() + u * 0.74, g.top() + u * 0.28),
                       QPointF(g.left() + u * 0.74, g.top() + u * 0.42));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawRoundedRect(QRectF(g.left() + u * 0.08, g.top() + u * 0.4, u * 0.84, u * 0.6),
                              u * 0.08, u * 0.08);
            p.setPen(QPen(QColor(0xd3, 0x84, 0x00), u * 0.09, Qt::SolidLine, Qt::RoundCap));
            if (id == kArtQuarantine) {
                p.drawLine(QPointF(g.left() + u * 0.32, g.top() + u * 0.7),
                           QPointF(g.left() + u * 0.46, g.top() + u * 0.84));
                p.drawLine(QPointF(g.left() + u * 0.46, g.top() + u * 0.84),
                           QPointF(g.left() + u * 0.7, g.top() + u * 0.56));
            } else {
                p.setBrush(QColor(0xd3, 0x84, 0x00));
                p.drawEllipse(QPointF(g.center().x(), g.top() + u * 0.66), u * 0.06, u * 0.06);
            }
            break;
        }
        case kArtRestore: {  // an arrow turning back
            drawTile(p, r, QColor(0x14, 0x9c, 0x7c));
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            const QRectF ring = g.adjusted(u * 0.1, u * 0.14, -u * 0.04, -u * 0.02);
            p.drawArc(ring, -90 * 16, 270 * 16);
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            const QPointF tip(ring.center().x(), ring.top());
            const qreal a = u * 0.24;
            p.drawPolygon(QPolygonF() << tip + QPointF(-a, 0) << tip + QPointF(a * 0.3, -a * 0.8)
                                      << tip + QPointF(a * 0.3, a * 0.8));
            break;
        }
        default:
            drawTile(p, r, QColor(0x90, 0x90, 0x90));
            break;
    }
}

}  // namespace

QSize naturalSize(int id) {
    switch (id) {
        case kAppIcon:
            return {32, 32};
        case kScanStart:
        case kScanStop:
            return {149, 31};
        case kSocial1:
        case kSocial2:
        case kSocial3:
        case kSocial4:
            return {32, 34};
        default:
            return {32, 32};
    }
}

QPixmap pixmap(int id, qreal devicePixelRatio, QSize size) {
    if (!size.isValid()) size = naturalSize(id);
    if (devicePixelRatio <= 0) devicePixelRatio = 1;
    QPixmap out(size * devicePixelRatio);
    out.setDevicePixelRatio(devicePixelRatio);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF r(QPointF(0, 0), QSizeF(size));
    switch (id) {
        case kAppIcon:
            drawShield(p, r.adjusted(r.width() * 0.08, r.height() * 0.04, -r.width() * 0.08,
                                     -r.height() * 0.04));
            break;
        case kScanStart:
            drawScanButton(p, r, false);
            break;
        case kScanStop:
            drawScanButton(p, r, true);
            break;
        case kSocial1:
        case kSocial2:
        case kSocial3:
        case kSocial4:
            drawSocial(p, r, id);
            break;
        default:
            drawTool(p, r, id);
            break;
    }
    return out;
}

QIcon appIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(pixmap(kAppIcon, 1.0, QSize(side, side)));
    }
    return icon;
}

}  // namespace artwork
