#pragma once

#include <QString>
#include <optional>

namespace morven {

// A port as the user names it: a number 1 to 10 (mapped as in the windows), or a device path.
struct PortArgument {
    int number = 0;  // 1..10, or 0 when device is set
    QString device;
};

// "COM1".."COM10" (any case), "1".."10", or a path ("/dev/ttyUSB0"); nothing else.
std::optional<PortArgument> ParsePortArgument(const QString& text);

}  // namespace morven
