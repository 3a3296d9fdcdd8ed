// For tools/screenshots: the custom-scan dialog with a folder chosen and the
// main dialog in the middle of a real scan of a small tree, in a throw-away
// installation (its own registry, hash database and logs). save renders one
// widget under a name and says whether it worked.
#pragma once
#include <functional>

class MainDialog;
class QWidget;

bool RenderScanShots(MainDialog& main, const std::function<bool(QWidget&, const char*)>& save);
