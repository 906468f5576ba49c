#pragma once

#include <QRect>

namespace common {

// Both programs' windows: layouts are drawn in twips; at 96 dpi 15 twips make one pixel. Qt scales
// device-independent pixels on high-DPI screens, so the layout grows with the screen and is never
// clipped.
constexpr int Twips(int twips) { return twips / 15; }
constexpr QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(Twips(left), Twips(top), Twips(width), Twips(height));
}

}  // namespace common
