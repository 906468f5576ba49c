#pragma once

#include <QString>
#include <QStringList>

namespace morven {

inline constexpr const char* KernelFileName = "zididuv.bin";

// Where the kernel program is looked up: the system directory on Windows; elsewhere the first
// XDG data directory whose morven/ folder holds it ($XDG_DATA_HOME, then $XDG_DATA_DIRS).
// When none holds it, the path it would have in $XDG_DATA_HOME.
QString KernelFilePath();

// The folders KernelFilePath() looks in, in its order.
QStringList KernelSearchFolders();

// "Looked for zididuv.bin in:" and those folders, one a line, for the operator.
QString KernelSearchText();

// The check before anything is opened: the kernel file can be read and is not empty.
bool KernelFilePresent(const QString& path);

// What the operator is told when it is not.
inline constexpr const char* KernelNotFoundText = "Not found ZIDIDUV.BIN";

}  // namespace morven
