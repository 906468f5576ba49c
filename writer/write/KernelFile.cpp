#include "KernelFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace morven {

QStringList KernelSearchFolders() {
#ifdef Q_OS_WIN
    return {QDir(qEnvironmentVariable("SystemRoot", "C:/Windows")).filePath("System32")};
#else
    QStringList folders;
    for (const QString& data :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        folders << QDir(data).filePath(QStringLiteral("morven"));
    return folders;
#endif
}

// The first folder that holds it; else where it would be in the first folder.
QString KernelFilePath() {
    const QStringList folders = KernelSearchFolders();
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(QString::fromLatin1(KernelFileName));
        if (QFileInfo::exists(path)) return path;
    }
    return QDir(folders.value(0)).filePath(QString::fromLatin1(KernelFileName));
}

QString KernelSearchText() {
    return QStringLiteral("Looked for %1 in:\n  %2")
        .arg(QString::fromLatin1(KernelFileName),
             KernelSearchFolders().join(QStringLiteral("\n  ")));
}

bool KernelFilePresent(const QString& path) {
    QFile kernel(path);
    return kernel.open(QIODevice::ReadOnly) && kernel.size() > 0;
}

}  // namespace morven
