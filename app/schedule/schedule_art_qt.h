// The pictures of the scheduling dialogs: the banner across the top
// (bitmap 131) and the pictures that act as buttons (a click is reported
// as the control's command with code 0).
#pragma once
#include <QAbstractButton>
#include <QWidget>

// Bitmap 131: the product's banner with the dialog's subject.
class ScheduleBanner : public QWidget {
public:
    ScheduleBanner(const QString& subject, QWidget* parent);
    QSize sizeHint() const override { return {520, 58}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_subject;
};

// A picture button: its glyph is named by the bitmap it stands for (182
// save, 183 cancel/close, 217 store, 218 add, 219 delete), its caption
// under it; object name "id<controlId>".
class SchedulePictureButton : public QAbstractButton {
public:
    SchedulePictureButton(int controlId, int bitmapId, const QString& caption, QWidget* parent);
    int controlId() const { return m_controlId; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int m_controlId;
    int m_bitmapId;
    bool m_hover = false;
};
