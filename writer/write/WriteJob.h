#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <variant>

#include "WriteOutcome.h"
#include "image/TargetImage.h"

namespace morven {

// Everything one write sends, read and checked before any port is opened: the image with its
// load report (TargetImage, MaxAddress) and the kernel's bytes.
struct WriteJob : LoadedImage {
    QString sRecordName;  // the file as the user named it; "standard input" for "-"
    QByteArray Kernel;
};

// Why a write was refused before anything was sent, in the operator's words.
struct WriteRefusal {
    WriteOutcome outcome;
    QString text;
};

// The largest S-record file read: far beyond any real file for a 384 KiB image.
inline constexpr qint64 SRecordFileLimit = qint64(64) << 20;

// Reads the kernel, then the S-record file, whole and bounded; refuses a missing or empty
// kernel, one too long to announce, a file that cannot be read and a file with nothing to
// write. stop() is asked while a read waits for data (a FIFO nobody writes).
std::variant<WriteJob, WriteRefusal> PrepareWrite(const QString& sRecordPath,
                                                  const QString& kernelPath,
                                                  const std::function<bool()>& stop);

// The S-record file alone, read and loaded, for a report without a write; refused only when it
// cannot be read.
std::variant<LoadedImage, WriteRefusal> LoadSRecordInput(const QString& sRecordPath,
                                                         const std::function<bool()>& stop);

// The refusal of a loaded file that stores no data byte in the image.
std::optional<WriteRefusal> NothingToWrite(const QString& sRecordPath, const LoadReport& report);

// "standard input" for "-", else the path.
QString DisplayName(const QString& sRecordPath);

}  // namespace morven
