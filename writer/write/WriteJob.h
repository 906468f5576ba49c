#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <variant>

#include "WriteOutcome.h"
#include "image/TargetImage.h"

namespace morven {

// Everything one write sends, read and checked before any port is opened: the image with its
// load report (TargetImage, MaxAddress) and the kernel's bytes.
struct WriteJob : LoadedImage {
    QString fileName;  // the firmware file as the user named it; "standard input" for "-"
    QByteArray Kernel;
    QString recipeSigner;  // who signed the recipe that approved it; empty when none was checked
};

// The firmware file a write reads: its format is told from its content, unless it is to be read
// as raw binary placed from binaryAt.
struct FirmwareInput {
    QString path;  // "-" for standard input
    std::optional<std::uint32_t> binaryAt;
};

// Why a write was refused before anything was sent, in the operator's words.
struct WriteRefusal {
    WriteOutcome outcome;
    QString text;
    QString reason;  // for a file that cannot be read or its format refuses: why, briefly
};

// The largest firmware file read: far beyond any real file for a 384 KiB image.
inline constexpr qint64 FirmwareFileLimit = qint64(64) << 20;

// Reads the kernel, then the firmware file, whole and bounded; refuses a missing or empty
// kernel, one too long to announce, a file that cannot be read, a file its format refuses and
// a file with nothing to write. stop() is asked while a read waits for data (a FIFO nobody
// writes).
std::variant<WriteJob, WriteRefusal> PrepareWrite(const FirmwareInput& input,
                                                  const QString& kernelPath,
                                                  const std::function<bool()>& stop);

// The firmware file alone, read and loaded, for a report without a write; refused when it
// cannot be read or its format refuses it.
std::variant<LoadedImage, WriteRefusal> LoadFirmwareInput(const FirmwareInput& input,
                                                          const std::function<bool()>& stop);

// The refusal of a loaded file that stores no data byte in the image.
std::optional<WriteRefusal> NothingToWrite(const QString& path, const LoadReport& report);

// "standard input" for "-", else the path.
QString DisplayName(const QString& path);

}  // namespace morven
