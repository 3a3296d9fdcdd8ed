#include "app/schedule/schedule_art_qt.h"

#include <QPainter>
#include <QPainterPath>

#include "app/shell/artwork.h"

ScheduleBanner::ScheduleBanner(const QString& subject, QWidget* parent)
    : QWidget(parent), m_subject(subject) {
    setObjectName("picture131");
    setMinimumHeight(58);
}

void ScheduleBanner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(rect().topLeft(), rect().topRight());
    fill.setColorAt(0, QColor(0x0e, 0x24, 0x3f));
    fill.setColorAt(1, QColor(0x13, 0x5c, 0x7a));
    p.fillRect(rect(), fill);
    const int side = height() - 18;
    p.drawPixmap(QPoint(12, 9),
                 artwork::pixmap(artwork::kAppIcon, devicePixelRatioF(), QSize(side, side)));
    QFont title = font();
    title.setPointSizeF(font().pointSizeF() * 1.4);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(22 + side, 0, width(), height() / 2 + 4), Qt::AlignLeft | Qt::AlignBottom,
               "Orvane");
    p.setFont(font());
    p.setPen(QColor(0xb8, 0xd8, 0xe8));
    p.drawText(QRect(22 + side, height() / 2 + 4, width(), height() / 2 - 4),
               Qt::AlignLeft | Qt::AlignTop, m_subject);
}

SchedulePictureButton::SchedulePictureButton(int controlId, int bitmapId, const QString& caption,
                                             QWidget* parent)
    : QAbstractButton(parent), m_controlId(controlId), m_bitmapId(bitmapId) {
    setObjectName(QString("id%1").arg(controlId));
    setText(caption);
    setToolTip(caption);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

QSize SchedulePictureButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {qMax(56, metrics.horizontalAdvance(text()) + 14), 30 + metrics.height() + 8};
}

void SchedulePictureButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (m_hover || isDown()) {
        p.setPen(Qt::NoPen);
        p.setBrush(isDown() ? QColor(0, 0, 0, 40) : QColor(0x2f, 0x80, 0xed, 28));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    }
    const QRectF disc((width() - 28) / 2.0, 4 + (isDown() ? 1 : 0), 28, 28);
    QColor colour(0x1f, 0x6f, 0xb2);
    if (m_bitmapId == 183) colour = QColor(0x8a, 0x95, 0xa3);
    if (m_bitmapId == 219) colour = QColor(0xc0, 0x39, 0x2b);
    if (m_bitmapId == 182 || m_bitmapId == 218) colour = QColor(0x2e, 0x8b, 0x57);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(disc);
    QPen pen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QPointF c = disc.center();
    switch (m_bitmapId) {
        case 182: {  // save: a tick
            QPainterPath tick;
            tick.moveTo(c + QPointF(-7, 0));
            tick.lineTo(c + QPointF(-2, 5));
            tick.lineTo(c + QPointF(7, -5));
            p.drawPath(tick);
            break;
        }
        case 218:  // add: a plus
            p.drawLine(c + QPointF(-7, 0), c + QPointF(7, 0));
            p.drawLine(c + QPointF(0, -7), c + QPointF(0, 7));
            break;
        case 219:  // delete: a minus
            p.drawLine(c + QPointF(-7, 0), c + QPointF(7, 0));
            break;
        case 217: {  // store the e-mail setting: an envelope
            pen.setWidthF(1.8);
            p.setPen(pen);
            const QRectF letter(c.x() - 8, c.y() - 5.5, 16, 11);
            p.drawRect(letter);
            p.drawLine(letter.topLeft(), c + QPointF(0, 1.5));
            p.drawLine(letter.topRight(), c + QPointF(0, 1.5));
            break;
        }
        default:  // cancel and close: a cross
            p.drawLine(c + QPointF(-6, -6), c + QPointF(6, 6));
            p.drawLine(c + QPointF(-6, 6), c + QPointF(6, -6));
            break;
    }
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(0, 36, width(), height() - 36), Qt::AlignHCenter | Qt::AlignTop, text());
}

void SchedulePictureButton::enterEvent(QEnterEvent*) {
    m_hover = true;
    update();
}

void SchedulePictureButton::leaveEvent(QEvent*) {
    m_hover = false;
    update();
}
