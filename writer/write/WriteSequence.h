#pragma once

#include <QString>

#include "BoardImage.h"
#include "ProgressDisplay.h"
#include "WriteOutcome.h"
#include "port/SerialLink.h"

namespace morven {

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
    // The kernel and the image are only read: boards of a gang share them.
    FlashWriter(SerialLink& link, ProgressDisplay& progress, const QByteArray& kernel,
                const BoardImage& image);

    // Runs the whole write on a port the caller has opened at 19200 baud.
    Task<WriteOutcome> WriteSequence();
    Task<StageResult> SendKernel();
    Task<StageResult> SendFlashData();

    // The one place where outcomes become the operator's texts.
    QString OutcomeText(WriteOutcome outcome) const;

private:
    enum class Wakeup { Confirmed, NoAnswer, LinkLost };
    WriteOutcome LinkLostOutcome() const;
    Task<Wakeup> WakeTarget();
    Task<StageResult> ExpectByte(quint8 expected);

    SerialLink& link_;
    ProgressDisplay& progress_;
    const QByteArray& kernel_;
    const BoardImage& image_;
};

}  // namespace morven
