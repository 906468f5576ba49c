#pragma once

#include <QString>

namespace morven {

inline constexpr const char* KernelFileName = "zididuv.bin";

// Where the kernel program is looked up: the system directory on Windows; elsewhere the first
// XDG data directory whose morven/ folder holds it ($XDG_DATA_HOME, then $XDG_DATA_DIRS).
// When none holds it, the path it would have in $XDG_DATA_HOME.
QString KernelFilePath();

}  // namespace morven
