#include "KernelFile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace morven {

QString KernelFilePath() {
#ifdef Q_OS_WIN
    return QDir(qEnvironmentVariable("SystemRoot", "C:/Windows"))
        .filePath(QStringLiteral("System32/") + KernelFileName);
#else
    const QString relative = QStringLiteral("morven/") + KernelFileName;
    const QString found = QStandardPaths::locate(QStandardPaths::GenericDataLocation, relative);
    if (!found.isEmpty()) return found;
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(relative);
#endif
}

bool KernelFilePresent(const QString& path) {
    QFile kernel(path);
    return kernel.open(QIODevice::ReadOnly) && kernel.size() > 0;
}

}  // namespace morven
