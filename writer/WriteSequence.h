#pragma once

#include <QString>

#include "OperatorOutputs.h"
#include "SerialLink.h"
#include "WriteJob.h"
#include "WriteOutcome.h"

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

// The boot-mode write of one prepared job: wake the target at 19200 baud, download the kernel
// with echo checking, switch to 57600 baud and stream the image in 64-byte blocks.
class FlashWriter {
public:
    FlashWriter(SerialLink& link, ProgressDisplay& progress, MessageSink& messages, WriteJob& job);

    // Runs the whole write on a port the caller has opened at 19200 baud, and shows exactly one
    // message at its end (none when the write was cancelled).
    Task<WriteOutcome> WriteSequence();
    Task<StageResult> SendKernel();
    Task<StageResult> SendFlashData();

    // Shows the outcome's text (unless cancelled) and returns the outcome.
    WriteOutcome Report(WriteOutcome outcome);
    QString OutcomeText(WriteOutcome outcome) const;

private:
    enum class Wakeup { Confirmed, NoAnswer, LinkLost };
    Task<WriteOutcome> RunStages();
    WriteOutcome LinkLostOutcome() const;
    Task<Wakeup> WakeTarget();
    Task<StageResult> ExpectByte(quint8 expected);

    SerialLink& link_;
    ProgressDisplay& progress_;
    MessageSink& messages_;
    WriteJob& job_;
};

}  // namespace morven
