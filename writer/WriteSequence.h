#pragma once

#include <QString>
#include <optional>

#include "OperatorOutputs.h"
#include "SerialLink.h"

namespace morven {

// Full path of the chosen S-record file; set by the windows, read at the start of every write.
extern QString SRecordPath;

enum class StageResult {
    Success = 0,
    WrongAnswer = 1,
    TimedOut = 2,
    LinkLost = 3,
    KernelMissing = 5
};

// The boot-mode write: load the image, wake the target at 19200 baud, download the kernel with
// echo checking, switch to 57600 baud and stream the image in 64-byte blocks.
class FlashWriter {
public:
    FlashWriter(SerialLink& link, ProgressDisplay& progress, MessageSink& messages,
                QString kernelPath);

    // Runs the whole write on a port the caller has opened at 19200 baud, and shows exactly one
    // message at its end (none when the link was cancelled because the window is closing).
    void WriteSequence();
    StageResult SendKernel();
    StageResult SendFlashData();

private:
    enum class Wakeup { Confirmed, NoAnswer, LinkLost };
    std::optional<QString> RefusalBeforeSending() const;
    QString RunStages();
    Wakeup WakeTarget();
    StageResult ExpectByte(quint8 expected);
    QString FailureText(StageResult result, const QString& timedOut,
                        const QString& wrongAnswer) const;
    QString LinkLostText() const;

    SerialLink& link_;
    ProgressDisplay& progress_;
    MessageSink& messages_;
    QString kernelPath_;
};

}  // namespace morven
