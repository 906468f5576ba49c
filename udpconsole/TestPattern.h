#pragma once

#include <QByteArray>

namespace pellux {

inline constexpr int TestPatternSize = 513;

// The 95 printable ASCII characters from space to tilde, in order, over and over: byte i is
// 32 + (i mod 95).
QByteArray FillTestPattern();

}  // namespace pellux
