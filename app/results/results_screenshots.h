// The results, threat management and reports dialogs filled with a sample
// scan, for tools/screenshots: a report, quarantine records and past reports
// are made in a temporary folder, each dialog is handed to save.
#pragma once
#include <QString>
#include <functional>

class QWidget;

bool RenderResultsDialogs(QWidget* owner,
                          const std::function<bool(QWidget&, const QString&)>& save);
