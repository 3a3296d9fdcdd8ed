// The alert program's pictures, drawn at the device pixel ratio they are
// shown at: the banner (bitmap 133) across the top of the alert. The window
// icons are the application's own (artwork::appIcon).
#pragma once
#include <QPixmap>
#include <QSize>

namespace alert_artwork {

inline constexpr int kBanner = 133;

// The banner for a width and height in logical pixels.
QPixmap banner(QSize size, qreal devicePixelRatio);

}  // namespace alert_artwork
