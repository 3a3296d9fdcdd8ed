#include "app/shell/image_button.h"

#include <QPainter>
#include <QStyleOptionFocusRect>

#include "app/shell/artwork.h"

ImageButton::ImageButton(int controlId, int artId, QSize size, const QString& caption,
                         QWidget* parent)
    : QAbstractButton(parent), m_controlId(controlId), m_artId(artId), m_size(size) {
    setObjectName(QString("id%1").arg(controlId));
    setText(caption);
    setToolTip(caption);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ImageButton::setArt(int artId) {
    m_artId = artId;
    update();
}

QSize ImageButton::sizeHint() const {
    QSize hint = m_size + QSize(8, 8);
    if (!text().isEmpty()) {
        const QFontMetrics metrics(font());
        hint.setWidth(qMax(hint.width(), metrics.horizontalAdvance(text()) + 10));
        hint.setHeight(hint.height() + metrics.height() + 2);
    }
    return hint;
}

void ImageButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (isEnabled() && (m_hover || isDown())) {
        p.setPen(Qt::NoPen);
        p.setBrush(isDown() ? QColor(0, 0, 0, 40) : QColor(0x2f, 0x80, 0xed, 28));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    }
    QPixmap picture = artwork::pixmap(m_artId, devicePixelRatioF(), m_size);
    if (!isEnabled()) {
        // Greyed out while a scan runs.
        QPixmap faded(picture.size());
        faded.setDevicePixelRatio(picture.devicePixelRatio());
        faded.fill(Qt::transparent);
        QPainter f(&faded);
        f.setOpacity(0.35);
        f.drawPixmap(0, 0, picture);
        f.end();
        picture = faded;
    }
    const int x = (width() - m_size.width()) / 2;
    const int y = text().isEmpty() ? (height() - m_size.height()) / 2 : 4;
    p.drawPixmap(QPoint(x, y + (isDown() ? 1 : 0)), picture);
    if (!text().isEmpty()) {
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                 QPalette::WindowText));
        const QRect captionRect(0, y + m_size.height() + 2, width(),
                                height() - (y + m_size.height() + 2));
        p.drawText(captionRect, Qt::AlignHCenter | Qt::AlignTop, text());
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
    }
}

void ImageButton::enterEvent(QEnterEvent*) {
    m_hover = true;
    update();
}

void ImageButton::leaveEvent(QEvent*) {
    m_hover = false;
    update();
}
