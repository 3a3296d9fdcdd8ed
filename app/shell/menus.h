// Menu 109 (the main dialog's and the main window's menu) and menu 147 (the
// tray popup). Each action carries its command id as data and is named
// "cmd<id>"; choosing it calls `command` with the id.
#pragma once
#include <functional>

class QMenu;
class QMenuBar;
class QWidget;

void BuildMenu109(QMenuBar* bar, const std::function<void(int)>& command);
QMenu* BuildMenu147(QWidget* parent, const std::function<void(int)>& command);
