#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace morven {

// A whole input read into memory before anything is sent.
struct InputRead {
    enum class Status {
        Ok,
        Unreadable,  // error says why: missing, a folder, a device, an I/O error
        TooLarge,    // over the limit; error says so
        Terminal,    // standard input is a terminal: nothing to read from a person typing
        Stopped      // stop() said so while waiting for data
    };
    Status status = Status::Ok;
    QByteArray bytes;
    QString error;
};

// Reads a regular file, a pipe or a FIFO whole, or standard input for "-". Folders and devices
// are refused at once, and so is anything larger than limit bytes, without reading further.
// While it waits for data it asks stop() at least every 100 ms.
InputRead ReadWholeInput(const QString& path, qint64 limit, const std::function<bool()>& stop);

// "-" names standard input.
inline bool IsStandardInput(const QString& path) { return path == QStringLiteral("-"); }

}  // namespace morven
