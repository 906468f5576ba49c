#pragma once

#include <QByteArray>
#include <QString>

namespace morven {

// Writes bytes whole to fd, going on after short writes and signals. Returns how many were
// written; fewer than bytes.size() leaves the reason in errno.
qsizetype WriteWhole(int fd, const QByteArray& bytes);

// Replaces the file at path with bytes so that a kill or a power cut at any moment leaves the
// old file or the new one, whole: written to PATH.new in the same folder, synced, renamed over
// path, and the folder synced. Empty, or why not.
QString ReplaceDurably(const QString& path, const QByteArray& bytes);
// The same for the file name in the folder open as folderFd, wherever that folder is moved
// meanwhile; folder names it in the reason.
QString ReplaceDurablyIn(int folderFd, const QString& folder, const QString& name,
                         const QByteArray& bytes);

}  // namespace morven
