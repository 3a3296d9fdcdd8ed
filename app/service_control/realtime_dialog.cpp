#include "app/service_control/realtime_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimerEvent>
#include <QVBoxLayout>

#include "app/service_control/service_control.h"
#include "app/shell/app_log.h"
#include "app/shell/artwork.h"
#include "app/shell/entry_points.h"
#include "app/shell/image_button.h"
#include "app/shell/prompts.h"

namespace {

QLineEdit* field(int id, QWidget* parent, bool number) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString("id%1").arg(id));
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::ClickFocus);
    if (number) {
        edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        edit->setMaximumWidth(110);
    }
    return edit;
}

}  // namespace

RealTimeDialog::RealTimeDialog(QWidget* parent) : QDialog(parent) {
    LogEntry(u"RealTime");
    setObjectName("dialog143");
    setWindowTitle("Real Time Monitor");
    setWindowIcon(artwork::appIcon());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(16, 14, 16, 12);
    root->setSpacing(10);

    auto* figures = new QGroupBox("Real Time Protection", this);
    auto* grid = new QGridLayout(figures);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    grid->addWidget(new QLabel("Number Of Scanned Files:", figures), 0, 0);
    grid->addWidget(field(1049, figures, true), 0, 1);
    grid->addWidget(new QLabel("Number Of Infected Files:", figures), 1, 0);
    grid->addWidget(field(1051, figures, true), 1, 1);
    grid->setColumnStretch(2, 1);
    grid->addWidget(new QLabel("Last Scanned File: ", figures), 2, 0, 1, 3);
    grid->addWidget(field(1048, figures, false), 3, 0, 1, 3);
    grid->addWidget(new QLabel("Last Infected File: ", figures), 4, 0, 1, 3);
    grid->addWidget(field(1050, figures, false), 5, 0, 1, 3);
    grid->addWidget(new QLabel("Information: ", figures), 6, 0, 1, 3);
    grid->addWidget(field(1052, figures, false), 7, 0, 1, 3);
    root->addWidget(figures);

    auto* options = new QGroupBox("Options", this);
    auto* optionLayout = new QVBoxLayout(options);
    m_disable = new QCheckBox("Disable Real Time Monitoring.", options);
    m_disable->setObjectName("id1009");
    optionLayout->addWidget(m_disable);
    for (const auto& [id, text] :
         {std::pair{1016, "Block Autorun."}, std::pair{1003, "Autorun USB Devices."}}) {
        auto* box = new QCheckBox(text, options);
        box->setObjectName(QString("id%1").arg(id));
        box->setEnabled(false);
        optionLayout->addWidget(box);
    }
    root->addWidget(options);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    auto* close = new ImageButton(1044, 1, QSize(24, 24), "Close", this);
    connect(close, &QAbstractButton::clicked, this, [this] { onCommand(1044); });
    bottom->addWidget(close);
    root->addLayout(bottom);

    connect(m_disable, &QCheckBox::clicked, this, [this] { onCommand(1009); });
    m_timer.setInterval(kRealTimeTimerMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, [this] { onTimer(kRealTimeTimerId); });

    // WM_INITDIALOG: the timer, the figures, the box from ServiceState.
    m_timer.start();
    UpdateOVSharedMemDataEx();
    m_disable->setChecked(ReadServiceState() == 1);
    setMinimumWidth(520);
}

RealTimeDialog::~RealTimeDialog() {
    m_timer.stop();
    // The switch's worker posts its end to this dialog; it is waited for
    // while the dialog still stands.
    m_switch.wait();
}

QWidget* RealTimeDialog::control(int id) const {
    return findChild<QWidget*>(QString("id%1").arg(id));
}

QString RealTimeDialog::controlText(int id) const {
    if (auto* edit = qobject_cast<QLineEdit*>(control(id))) return edit->text();
    return {};
}

int32_t RealTimeDialog::UpdateOVSharedMemDataEx() {
    RealTimeFigures figures;
    if (ReadRealTimeFigures(figures) != 1) return 0;
    auto set = [this](int id, const QString& text) {
        if (auto* edit = qobject_cast<QLineEdit*>(control(id))) {
            edit->setText(text);
            edit->setCursorPosition(0);
        }
    };
    set(1049, QString::number(figures.scannedFiles));
    set(1051, QString::number(figures.infectedFiles));
    set(1048, QString::fromStdU16String(figures.lastScannedFile));
    set(1050, QString::fromStdU16String(figures.lastInfectedFile));
    return 1;
}

void RealTimeDialog::onTimer(int) {
    LogEntry(u"RealTime");
    m_timer.stop();
    m_timer.start(kRealTimeTimerMilliseconds);
    UpdateOVSharedMemDataEx();
}

void RealTimeDialog::timerEvent(QTimerEvent* event) {
    onTimer(event->timerId());
    QDialog::timerEvent(event);
}

int RealTimeDialog::onCommand(int id) {
    LogEntry(u"RealTime");
    if (id == 1009) {
        // The box keeps the user's choice; it stays disabled until the
        // service has been asked and has settled.
        const bool disable = m_disable->isChecked();
        // The destructor waits for the worker, so the dialog still stands
        // when the worker posts its end.
        if (m_switch.request(disable, [this](int32_t) {
                QMetaObject::invokeMethod(
                    this, [this] { onServiceSwitched(); }, Qt::QueuedConnection);
            })) {
            m_disable->setEnabled(false);
        } else {
            m_disable->setChecked(!disable);
        }
        return 1;
    }
    if (id == 1 || id == 2 || id == 1044) {
        m_timer.stop();
        done(id);
        return 1;
    }
    return 0;
}

void RealTimeDialog::onServiceSwitched() { m_disable->setEnabled(true); }

int32_t RealTime(QWidget* owner) {
    RealTimeDialog dialog(owner);
    return prompts().execDialog(dialog);
}
