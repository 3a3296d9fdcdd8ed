#include "app/shell/main_dialog.h"

#include "app/schedule/sched_starter_qt.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QRadioButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/shell/about_dialog.h"
#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/commands.h"
#include "app/shell/entry_points.h"
#include "app/shell/image_button.h"
#include "app/shell/menus.h"
#include "app/shell/prompts.h"
#include "app/shell/shell_frame.h"
#include "app/shell/shell_state.h"
#include "app/shell/startup.h"
#include "common/registry_names.h"
#include "common/scan_codes.h"

MainDialog* hMainDlg = nullptr;

namespace {

constexpr char16_t kNoScanYet[] = u"Please run a system scan to be able to view a scan log.";
constexpr char16_t kNoScanYetCaption[] = u"Orvane - Information...";

// The band across the top: the shield, the product's name and the news line.
class HeaderBand : public QWidget {
public:
    explicit HeaderBand(QWidget* parent) : QWidget(parent) {
        setAutoFillBackground(false);
        setMinimumHeight(64);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient fill(rect().topLeft(), rect().topRight());
        fill.setColorAt(0, QColor(0x0e, 0x24, 0x3f));
        fill.setColorAt(1, QColor(0x13, 0x5c, 0x7a));
        p.fillRect(rect(), fill);
        const int side = height() - 20;
        p.drawPixmap(QPoint(14, 10),
                     artwork::pixmap(artwork::kAppIcon, devicePixelRatioF(), QSize(side, side)));
        QFont title = font();
        title.setPointSizeF(font().pointSizeF() * 1.6);
        title.setBold(true);
        p.setFont(title);
        p.setPen(Qt::white);
        const QRect titleRect(24 + side, 0, width() / 2, height() / 2 + 6);
        p.drawText(titleRect, Qt::AlignLeft | Qt::AlignBottom, "Orvane");
        QFont sub = font();
        p.setFont(sub);
        p.setPen(QColor(0xb8, 0xd8, 0xe8));
        p.drawText(QRect(24 + side, height() / 2 + 6, width() / 2, height() / 2 - 6),
                   Qt::AlignLeft | Qt::AlignTop, "Anti-Malware");
    }
};

QLineEdit* readOnlyField(int id, QWidget* parent, bool number = false) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString("id%1").arg(id));
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::NoFocus);
    if (number) field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return field;
}

QLabel* label(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return l;
}

}  // namespace

MainDialog::MainDialog(QWidget* parent) : QDialog(parent) {
    hMainDlg = this;
    setObjectName("dialog129");
    setWindowTitle("Orvane");
    setWindowIcon(artwork::appIcon());
    buildUi();

    m_tray = new QSystemTrayIcon(artwork::appIcon(), this);
    m_tray->setObjectName("tray128");
    m_tray->setToolTip("Orvane Anti-Malware");
    m_trayMenu = BuildMenu147(this, [this](int id) { onCommand(id, 0); });
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onTrayActivated(reason); });

    m_scanTimer.setInterval(1000);
    connect(&m_scanTimer, &QTimer::timeout, this, [this] { tickScanTime(); });
    m_schedTimer.setSingleShot(true);
    connect(&m_schedTimer, &QTimer::timeout, this, [this] { onScheduledStartTimer(); });

    // Accelerators 109: Alt+? and Alt+/ open About.
    for (const char* keys : {"Alt+?", "Alt+/"}) {
        auto* shortcut = new QShortcut(QKeySequence(keys), this);
        connect(shortcut, &QShortcut::activated, this, [this] { onCommand(cmd::kAbout, 0); });
    }

    InitProcessScanner(this);
    CheckForFreeFeedback(this);
}

MainDialog::~MainDialog() {
    ExitProcessScanner();
    StopSchedStarterThread();
    m_scanTimer.stop();
    m_schedTimer.stop();
    if (hMainDlg == this) hMainDlg = nullptr;
}

void MainDialog::buildUi() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 10);
    root->setSpacing(8);

    auto* bar = new QMenuBar(this);
    bar->setObjectName("menu109");
    BuildMenu109(bar, [this](int id) { onCommand(id, 0); });
    root->setMenuBar(bar);

    // Header band with the news line (1088) on its right.
    auto* band = new HeaderBand(this);
    auto* bandLayout = new QHBoxLayout(band);
    bandLayout->setContentsMargins(0, 12, 16, 12);
    bandLayout->addStretch(1);
    QLineEdit* news = readOnlyField(1088, band);
    news->setAlignment(Qt::AlignCenter);
    news->setMinimumWidth(340);
    news->setStyleSheet(
        "QLineEdit { background: rgba(255,255,255,30); color: white; border: 1px solid "
        "rgba(255,255,255,60); border-radius: 4px; padding: 3px 8px; }");
    bandLayout->addWidget(news, 0, Qt::AlignVCenter);
    root->addWidget(band);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 0, 12, 0);
    body->setSpacing(10);
    root->addLayout(body);

    auto* columns = new QHBoxLayout;
    columns->setSpacing(10);
    body->addLayout(columns);

    // Left: the scan type, the scan image and the running scan's figures.
    auto* left = new QVBoxLayout;
    left->setSpacing(10);
    columns->addLayout(left, 3);

    auto* typeGroup = new QGroupBox("Select Scan Type: ", this);
    auto* typeLayout = new QHBoxLayout(typeGroup);
    auto* radios = new QVBoxLayout;
    const std::pair<int, const char*> types[] = {
        {cmd::kThreatScout, "Threat Scout"},
        {cmd::kFullScout, "Full System Scout"},
        {cmd::kCustomScout, "Custom Scout"},
    };
    for (const auto& [id, text] : types) {
        auto* radio = new QRadioButton(text, typeGroup);
        radio->setObjectName(QString("id%1").arg(id));
        const int commandId = id;
        connect(radio, &QRadioButton::clicked, this,
                [this, commandId] { onCommand(commandId, 0); });
        radios->addWidget(radio);
    }
    typeLayout->addLayout(radios, 1);
    auto* scanButton =
        new ImageButton(cmd::kScanButton, artwork::kScanStart, artwork::naturalSize(175), {}, this);
    scanButton->setToolTip("Start or stop a scan");
    connect(scanButton, &QAbstractButton::clicked, this,
            [this] { onCommand(cmd::kScanButton, 0); });
    typeLayout->addWidget(scanButton, 0, Qt::AlignVCenter | Qt::AlignRight);
    left->addWidget(typeGroup);

    auto* statusGroup = new QGroupBox("Scan Status", this);
    auto* status = new QGridLayout(statusGroup);
    status->setHorizontalSpacing(8);
    status->setVerticalSpacing(6);
    status->addWidget(label("Scan Type:", statusGroup), 0, 0);
    status->addWidget(readOnlyField(1048, statusGroup), 0, 1, 1, 3);
    status->addWidget(label("Scan Location:", statusGroup), 1, 0);
    status->addWidget(readOnlyField(1049, statusGroup), 1, 1, 1, 3);
    status->addWidget(label("Objects Scanned:", statusGroup), 2, 0);
    status->addWidget(readOnlyField(1015, statusGroup, true), 2, 1);
    status->addWidget(label("Scan Time:", statusGroup), 2, 2);
    status->addWidget(readOnlyField(cmd::kScanTime, statusGroup, true), 2, 3);
    status->addWidget(label("Count: ", statusGroup), 3, 0);
    status->addWidget(readOnlyField(1019, statusGroup, true), 3, 1);
    status->addWidget(label("Type:", statusGroup), 3, 2);
    status->addWidget(readOnlyField(1021, statusGroup), 3, 3);
    status->setColumnStretch(1, 1);
    status->setColumnStretch(3, 1);
    left->addWidget(statusGroup);

    auto* hiddenGroup = new QGroupBox("Hidden Process (Beta): ", this);
    auto* hidden = new QHBoxLayout(hiddenGroup);
    QLineEdit* hiddenCount = readOnlyField(1051, hiddenGroup, true);
    hiddenCount->setMaximumWidth(70);
    hidden->addWidget(hiddenCount);
    hidden->addWidget(readOnlyField(1053, hiddenGroup), 1);
    left->addWidget(hiddenGroup);

    // Right: the live system panel and the monitors.
    auto* right = new QVBoxLayout;
    right->setSpacing(10);
    columns->addLayout(right, 2);

    auto* systemGroup = new QGroupBox("System", this);
    auto* system = new QGridLayout(systemGroup);
    system->setHorizontalSpacing(8);
    system->setVerticalSpacing(6);
    const struct {
        const char* text;
        int id;
        const char* unit;
    } figures[] = {
        {"Process: ", 1001, ""}, {"Modules:", 1007, ""}, {"TCP:", 1059, ""},
        {"UDP:", 1061, ""},      {"Free:", 1063, "%"},   {"Total: ", 1065, "MB"},
    };
    int row = 0;
    for (const auto& figure : figures) {
        system->addWidget(label(figure.text, systemGroup), row, 0);
        system->addWidget(readOnlyField(figure.id, systemGroup, true), row, 1);
        auto* unit = new QLabel(figure.unit, systemGroup);
        unit->setMinimumWidth(QFontMetrics(font()).horizontalAdvance("MB") + 2);
        system->addWidget(unit, row, 2);
        ++row;
    }
    system->setColumnStretch(1, 1);
    right->addWidget(systemGroup);

    auto* monitorGroup = new QGroupBox("Monitoring (Beta): ", this);
    auto* monitor = new QGridLayout(monitorGroup);
    monitor->addWidget(label("Registry:", monitorGroup), 0, 0);
    monitor->addWidget(readOnlyField(1055, monitorGroup), 0, 1);
    monitor->addWidget(label("USB/EXT:", monitorGroup), 1, 0);
    monitor->addWidget(readOnlyField(1057, monitorGroup), 1, 1);
    monitor->setColumnStretch(1, 1);
    monitor->setRowStretch(2, 1);  // the group fills the column; its fields stay on top
    right->addWidget(monitorGroup, 1);

    // The command images and the "Help Us Grow" links.
    auto* tools = new QHBoxLayout;
    tools->setSpacing(4);
    const struct {
        int id;
        const char* caption;
    } images[] = {
        {1026, "Scan Results"}, {1033, "Settings"}, {1035, "Real Time"}, {1045, "Schedule"},
        {1069, "Update"},       {3, "About"},       {1005, "Exit"},
    };
    for (const auto& image : images) {
        auto* button = new ImageButton(image.id, image.id, QSize(32, 32), image.caption, this);
        const int id = image.id;
        connect(button, &QAbstractButton::clicked, this, [this, id] { onCommand(id, 0); });
        tools->addWidget(button);
    }
    tools->addStretch(1);
    auto* growGroup = new QGroupBox("Help Us Grow", this);
    auto* grow = new QHBoxLayout(growGroup);
    grow->setSpacing(2);
    const std::pair<int, int> links[] = {{1017, artwork::kSocial1},
                                         {1025, artwork::kSocial2},
                                         {1038, artwork::kSocial3},
                                         {1039, artwork::kSocial4}};
    for (const auto& [id, art] : links) {
        auto* button = new ImageButton(id, art, artwork::naturalSize(art), {}, growGroup);
        const int commandId = id;
        connect(button, &QAbstractButton::clicked, this,
                [this, commandId] { onCommand(commandId, 0); });
        grow->addWidget(button);
    }
    tools->addWidget(growGroup);
    body->addLayout(tools);

    // The information line.
    auto* info = new QHBoxLayout;
    info->addWidget(new QLabel("Information: ", this));
    info->addWidget(readOnlyField(cmd::kInformation, this), 1);
    body->addLayout(info);

    // Start-up values of the scan figures.
    for (int id : {1015, 1019, 1051}) setControlText(id, "0");
    setControlText(cmd::kScanTime, "00:00:00");

    setStyleSheet(
        "QGroupBox { font-weight: bold; border: 1px solid #c9d3de; border-radius: 6px; "
        "margin-top: 1.1em; padding: 6px 6px 4px 6px; background: #fbfcfe; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 4px; "
        "color: #1b3a5c; }"
        "QGroupBox QLabel, QGroupBox QRadioButton { font-weight: normal; }"
        "QLineEdit[readOnly=\"true\"] { background: #f1f4f8; border: 1px solid #d3dbe4; "
        "border-radius: 3px; padding: 2px 4px; font-weight: normal; }");
    setMinimumWidth(760);
}

QWidget* MainDialog::control(int id) const { return findChild<QWidget*>(QString("id%1").arg(id)); }

QString MainDialog::controlText(int id) const {
    QWidget* widget = control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    return {};
}

void MainDialog::setControlText(int id, const QString& text) {
    QWidget* widget = control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(text);
        edit->setCursorPosition(0);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    }
}

int MainDialog::onCommand(int id, int code) {
    const ShellCommand* entry = FindShellCommand(id);
    switch (DecideShellCommand(id, code, gShellState.scanning != 0)) {
        case CommandOutcome::NotHandled:
            return 0;
        case CommandOutcome::Ignored:
            return 1;
        case CommandOutcome::Refused:
            setInformation(QString::fromStdU16String(kRefusedDuringScan));
            return 1;
        case CommandOutcome::Run:
            break;
    }
    const int dispatchId = entry->dispatchId != 0 ? entry->dispatchId : id;
    switch (entry->action) {
        case ShellAction::About:
            showAbout();
            break;
        case ShellAction::SafeExit:
            OVDoSafeExit();
            break;
        case ShellAction::Update:
            DoUpdateRutine();
            break;
        case ShellAction::ScanButton:
            gShellState.scanning = gShellState.scanning != 0 ? 0 : 1;
            DoStartOVScanning();
            break;
        case ShellAction::ScanResults:
            showScanResults();
            break;
        case ShellAction::SelectThreatScan:
        case ShellAction::SelectFullScan:
        case ShellAction::SelectCustomScan:
            selectScanType(id);
            break;
        case ShellAction::Settings:
            Settings(this);
            break;
        case ShellAction::RealTime:
            RealTime(this);
            break;
        case ShellAction::Schedule:
            ScanSchedule(this);
            break;
        case ShellAction::SysInfo:
            SysInfo(this);
            break;
        case ShellAction::ThreatManagement: {
            uint32_t debug = 0;
            uint32_t size = sizeof(debug);
            if (GetRegValue(names::kSettingsKey, names::kDebug, &debug, &size) == 0 && debug == 1) {
                ScanReportDebugLine(u"Open Reports...\n");
            }
            Infected(this);
            break;
        }
        case ShellAction::Reports:
            Reports(this);
            break;
        case ShellAction::ShowHideUi:
            removeTrayIcon();
            showNormal();
            raise();
            activateWindow();
            break;
        case ShellAction::OpenUrl:
            DoOpenExtraOVUrl(dispatchId);
            break;
    }
    return 1;
}

void MainDialog::showAbout() {
    AboutDialog about(this);
    prompts().execDialog(about);
}

void MainDialog::showScanResults() {
    if (gShellState.scanReportPath().size() <= 2) {
        prompts().messageBox(nullptr, kNoScanYet, kNoScanYetCaption, PromptButtons::Ok,
                             PromptIcon::Information);
    } else if (gShellState.scanning != 0) {
        setInformation(QString::fromStdU16String(kRefusedDuringScan));
    } else {
        ScanResult(this);
    }
}

void MainDialog::selectScanType(int id) {
    // Exactly one of the three stays selected.
    for (int other : {cmd::kThreatScout, cmd::kFullScout, cmd::kCustomScout}) {
        auto* radio = qobject_cast<QRadioButton*>(control(other));
        if (radio == nullptr) continue;
        if (other == id) {
            radio->setChecked(true);
        } else if (radio->isChecked()) {
            radio->setAutoExclusive(false);
            radio->setChecked(false);
            radio->setAutoExclusive(true);
        }
    }
}

void MainDialog::showTrayIcon() {
    m_trayShown = true;
    if (QSystemTrayIcon::isSystemTrayAvailable()) m_tray->show();
}

void MainDialog::removeTrayIcon() {
    m_trayShown = false;
    m_tray->hide();
}

void MainDialog::onTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Context) return;
    m_trayMenu->popup(QCursor::pos());
}

void MainDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    OVSendToTray();
}

void MainDialog::startScanTimerCounter() {
    LogEntry(u"ScanTimerCounterThread");
    if (gShellState.scanning == 0) return;
    m_scanTime.Reset();
    m_scanTimer.start();
}

void MainDialog::stopScanTimerCounter() { m_scanTimer.stop(); }

void MainDialog::tickScanTime() {
    setControlText(cmd::kScanTime, QString::fromStdU16String(m_scanTime.Tick()));
    if (gShellState.scanning == 0) m_scanTimer.stop();
}

void MainDialog::armScheduledStartTimer(int milliseconds) { m_schedTimer.start(milliseconds); }

void MainDialog::onScheduledStartTimer() {
    gAppLog.Write(u"Got sched time: %d", int(gShellState.scheduledStart));
    m_schedTimer.stop();
    if (gShellState.scheduledStart != 1) {
        gAppLog.Write(u"ScanTimerCounterThread=> sched=false time ended");
        return;
    }
    PrepareScheduledJob();
    selectScanType(gShellState.scheduledScanType == names::kScanTypeThreat ? cmd::kThreatScout
                                                                           : cmd::kFullScout);
    ScanReportDebugLine(u"Send Button Message");
    gAppLog.Write(u"Send Button Message");
    onCommand(cmd::kScanButton, 0);
}
