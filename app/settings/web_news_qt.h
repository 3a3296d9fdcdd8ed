// The news line's drawing: a see-through layer over the main dialog's field
// 1088 that paints the text the news thread fetched, on the user-interface
// thread, in red from 40 pixels in.
#pragma once
#include <QWidget>
#include <memory>

#include "app/settings/web_news.h"

class NewsLayer : public QWidget {
public:
    // Covers `field` and owns the news thread (not yet started).
    explicit NewsLayer(QWidget* field);
    ~NewsLayer() override;

    WebNewsLine& line() { return *m_line; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<WebNewsLine> m_line;
};

// Starts the news thread of the main dialog once (its field 1088); the
// panel's start-up calls it. The thread ends with the dialog.
void StartWebNewsThread(QWidget* mainDialog);
