// The application's pictures, drawn with QPainter at the device pixel ratio
// they are shown at, so they stay sharp at 100% and 200%. Each is named by
// the id it stands for: the icon 130, the bitmaps 134, 175, 177, 234, 235 and
// 236, and the pictures of the main dialog's clickable images by their
// control ids (3 About, 1005 Exit, 1026 results, 1033 settings, 1035 real
// time, 1045 schedule, 1069 update) and the About dialog's 1 (close) and
// 1004 (web link).
#pragma once
#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace artwork {

inline constexpr int kAppIcon = 130;
inline constexpr int kSocial1 = 134;
inline constexpr int kScanStart = 175;
inline constexpr int kScanStop = 177;
inline constexpr int kSocial4 = 234;
inline constexpr int kSocial3 = 235;
inline constexpr int kSocial2 = 236;

// Pictures of the results, threat management and reports dialogs.
inline constexpr int kArtDeleteAll = 6001;       // a bin
inline constexpr int kArtDeleteSelected = 6002;  // a bin with a tick
inline constexpr int kArtQuarantine = 6003;      // a locked box with a tick
inline constexpr int kArtQuarantineAll = 6004;   // a locked box
inline constexpr int kArtRestore = 6005;         // an arrow turning back
inline constexpr int kArtRefresh = 1069;         // the update arrows

// The size a picture is meant to be shown at, in logical pixels.
QSize naturalSize(int id);

// The picture for an id at its natural size (or `size`), rendered for the
// device pixel ratio. An unknown id gives a neutral placeholder, never a
// null pixmap.
QPixmap pixmap(int id, qreal devicePixelRatio, QSize size = QSize());

// Icon 130 at the usual icon sizes.
QIcon appIcon();

}  // namespace artwork
