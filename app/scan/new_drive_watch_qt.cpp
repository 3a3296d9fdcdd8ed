#include "app/scan/new_drive_watch_qt.h"

#include <QWidget>

#include "app/shell/app_log.h"
#include "app/shell/genmsg_dialog.h"

NewDriveWatch::NewDriveWatch(QWidget* owner, std::chrono::milliseconds interval,
                             std::function<std::u16string()> driveStrings)
    : QObject(owner),
      m_owner(owner),
      m_ui([this](std::function<void()> work) {
          QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
      }),
      m_watch(
          [this](const std::u16string& text) {
              m_ui.call([this, text] { GenMsg(m_owner, text); });
          },
          [](const char16_t* name) { LogEntry(name); }, interval, std::move(driveStrings)) {}

NewDriveWatch::~NewDriveWatch() {
    m_ui.cancel();
    m_watch.stop();
}

NewDriveWatch* ExtDevThread(QWidget* owner) {
    auto* watch = new NewDriveWatch(owner);
    if (watch->start()) return watch;
    delete watch;
    return nullptr;
}
