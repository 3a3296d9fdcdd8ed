// What the live panel starts beside itself in the application: the
// scheduled-start poll, the news line and the new-drive watch.
#include <QWidget>

#include "app/scan/drive_watch.h"
#include "app/scan/ui_caller.h"
#include "app/schedule/sched_starter_qt.h"
#include "app/service_control/process_panel.h"
#include "app/settings/web_news_qt.h"
#include "app/shell/app_log.h"
#include "app/shell/genmsg_dialog.h"

namespace {

// The new-drive watch as the panel's device watcher. The panel makes it on
// its counter thread, so it is no QObject: each announcement is queued to
// the main dialog's thread and waited for there, and its end releases a
// waiting announcement before the watch is joined. The panel ends it
// before the main dialog goes.
class ApplicationDeviceWatcher final : public DeviceWatcher {
public:
    explicit ApplicationDeviceWatcher(QWidget* owner)
        : m_owner(owner),
          m_ui([owner](std::function<void()> work) {
              QMetaObject::invokeMethod(owner, std::move(work), Qt::QueuedConnection);
          }),
          m_watch(
              [this](const std::u16string& text) {
                  m_ui.call([this, text] { GenMsg(m_owner, text); });
              },
              [](const char16_t* name) { LogEntry(name); }) {}
    ~ApplicationDeviceWatcher() override {
        m_ui.cancel();
        m_watch.stop();
    }

    bool start() override { return m_watch.start(); }
    bool running() const override { return m_watch.running(); }

private:
    QWidget* m_owner;
    UiCaller m_ui;
    DriveWatch m_watch;
};

}  // namespace

ProcessPanelCompanions ApplicationPanelCompanions() {
    ProcessPanelCompanions companions;
    companions.startScheduledStart = [](QWidget* mainDialog) {
        StartSchedStarterThread(mainDialog);
        return true;
    };
    companions.startWebNews = [](QWidget* mainDialog) {
        StartWebNewsThread(mainDialog);
        return true;
    };
    companions.makeDeviceWatcher = [](QWidget* mainDialog) -> std::unique_ptr<DeviceWatcher> {
        if (mainDialog == nullptr) return nullptr;
        return std::make_unique<ApplicationDeviceWatcher>(mainDialog);
    };
    return companions;
}
