// The dialogs' clickable pictures (Save, Close): a tile with a glyph and a
// caption, reporting a click as the dialog's command of its control id.
#pragma once
#include <QAbstractButton>

class PictureButton : public QAbstractButton {
public:
    enum class Glyph { Save, Close, Send };

    // controlId becomes the object name "id<controlId>".
    PictureButton(int controlId, Glyph glyph, const QString& caption, QWidget* parent = nullptr);

    int controlId() const { return m_controlId; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int m_controlId;
    Glyph m_glyph;
    bool m_hover = false;
};
