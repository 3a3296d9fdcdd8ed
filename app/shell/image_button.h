// A clickable picture: reports a click as a command of the dialog (code 0).
// The picture is redrawn at the screen's pixel ratio; an optional caption
// stands under it.
#pragma once
#include <QAbstractButton>

class ImageButton : public QAbstractButton {
public:
    // controlId becomes the object name "id<controlId>"; artId names the
    // picture (artwork.h); size is the picture's logical size.
    ImageButton(int controlId, int artId, QSize size, const QString& caption,
                QWidget* parent = nullptr);

    int controlId() const { return m_controlId; }
    int artId() const { return m_artId; }
    void setArt(int artId);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int m_controlId;
    int m_artId;
    QSize m_size;
    bool m_hover = false;
};
