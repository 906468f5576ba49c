#pragma once

#include <QLabel>

namespace morven {

// A label of the station's window in its font, scale times its size: a little taller than a line
// and with room at either side, so that no letter's ink is cut at any scale factor.
QLabel* StationLabel(qreal scale = 1, bool bold = false);

}  // namespace morven
