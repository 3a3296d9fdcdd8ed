#include "app/settings/web_news_qt.h"

#include <QEvent>
#include <QMetaObject>
#include <QPainter>

NewsLayer::NewsLayer(QWidget* field) : QWidget(field) {
    setObjectName("newsLayer");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(field->rect());
    field->installEventFilter(this);
    // The thread only asks for a redraw; the layer reads the text when it paints.
    m_line = std::make_unique<WebNewsLine>([this] {
        QMetaObject::invokeMethod(
            this, [this] { update(); }, Qt::QueuedConnection);
    });
    show();
}

// The thread is joined before the widget goes, so no redraw request can
// name a destroyed layer.
NewsLayer::~NewsLayer() { m_line->stop(); }

bool NewsLayer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
    }
    return QWidget::eventFilter(watched, event);
}

void NewsLayer::paintEvent(QPaintEvent*) {
    const QString text = QString::fromStdU16String(m_line->text());
    if (text.isEmpty()) return;
    QPainter p(this);
    QRect area = rect();
    area.setLeft(40);
    area.setTop(1);
    p.setPen(QColor(0xff, 0x00, 0x00));
    p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip,
               text);
}

void StartWebNewsThread(QWidget* mainDialog) {
    if (mainDialog == nullptr) return;
    auto* field = mainDialog->findChild<QWidget*>("id1088");
    if (field == nullptr || field->findChild<NewsLayer*>() != nullptr) return;
    auto* layer = new NewsLayer(field);
    layer->line().start();
}
