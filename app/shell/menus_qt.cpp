#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "app/shell/menus.h"

namespace {

struct Item {
    const char* text;  // null for a separator
    int id;
};

void fill(QMenu* menu, std::initializer_list<Item> items, const std::function<void(int)>& command) {
    for (const Item& item : items) {
        if (item.text == nullptr) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromUtf8(item.text));
        action->setObjectName(QString("cmd%1").arg(item.id));
        action->setData(item.id);
        const int id = item.id;
        QObject::connect(action, &QAction::triggered, menu, [command, id] { command(id); });
    }
}

}  // namespace

void BuildMenu109(QMenuBar* bar, const std::function<void(int)>& command) {
    fill(bar->addMenu("&File"), {{"E&xit", 105}}, command);
    fill(bar->addMenu("Options"),
         {{"Reports", 32785},
          {"Threat Management...", 32784},
          {"Real Time Protection...", 32780},
          {"Scan Schedule...", 32781},
          {nullptr, 0},
          {"System Info", 32783},
          {nullptr, 0},
          {"Program Settings...", 32779}},
         command);
    fill(bar->addMenu("Update"), {{"Check For Updates...", 32778}}, command);
    fill(bar->addMenu("Special Offers"),
         {{"4 Webmasters.", 32799}, {"Apps for Business (USA/CA Only). ", 32800}}, command);
    fill(bar->addMenu("&Help"),
         {{"&About ...", 104},
          {"Online Help", 32772},
          {nullptr, 0},
          {"Our Community", 32771},
          {"Our Free Tools", 32777},
          {"Send Feedback", 32775},
          {"Report a problem", 32804},
          {"Affiliates Join Here ", 32792},
          {"Submit Malware Sample ", 32776},
          {"CyberSecurity Newsletter", 32774},
          {"Tell a Friend", 32798}},
         command);
}

QMenu* BuildMenu147(QWidget* parent, const std::function<void(int)>& command) {
    auto* menu = new QMenu(parent);
    menu->setObjectName("menu147");
    fill(menu,
         {{"Send Feedback", 32807},
          {"Show/Hide UI", 32786},
          {"Enable - Real Time Protection", 32805},
          {nullptr, 0},
          {"Start Update", 32806},
          {"Settings...", 32790},
          {nullptr, 0},
          {"About", 32787},
          {"Exit", 32788}},
         command);
    return menu;
}
