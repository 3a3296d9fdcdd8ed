// Sizes given in dialog units, turned into pixels for the font a dialog is
// shown with (a horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its height).
#pragma once
#include <QFontMetrics>
#include <QSize>

inline QSize dialogUnitsToPixels(const QFontMetrics& metrics, int width, int height) {
    const int average =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52;
    return {width * qMax(1, average) / 4, height * metrics.height() / 8};
}
