#include "ConsoleOutcome.h"

#include <cstdio>
#include <cstring>

#include "CheckVerdict.h"
#include "line/ExitStatus.h"
#include "line/InterruptSignals.h"
#include "write/KernelFile.h"

namespace morven {

void PrintOutcome(const QString& text) {
    std::printf("%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

void PrintError(const QString& text) {
    std::fprintf(stderr, "morven-cli: %s\n", text.toLocal8Bit().constData());
}

bool StopRequested() { return InterruptSignals::Received() != 0; }

void Interrupted() {
    PrintError(QStringLiteral("interrupted by SIG%1")
                   .arg(QString::fromLatin1(sigabbrev_np(InterruptSignals::Received()))));
    InterruptSignals::DieBySignal();
}

int Refuse(const WriteRefusal& refusal, const QString& kernelPath) {
    switch (refusal.outcome) {
        case WriteOutcome::Cancelled: Interrupted();
        case WriteOutcome::KernelMissing:
            PrintError(RefusalReason(refusal, kernelPath));
            if (kernelPath == KernelFilePath()) PrintError(KernelSearchText());
            PrintOutcome(QString::fromLatin1(KernelNotFoundText));
            break;
        case WriteOutcome::KernelTooLong:
        case WriteOutcome::SRecordUnreadable: PrintOutcome(refusal.text); break;
        default: PrintError(refusal.text); break;
    }
    // Raw binary is never told by its content: it reads as an S-record file without records.
    if (refusal.outcome == WriteOutcome::NothingToWrite &&
        refusal.text.contains(QStringLiteral("no S1, S2 or S3 data record")))
        PrintError(QStringLiteral(
            "hint: a raw binary file needs --binary-at ADDR, the address of its first byte"));
    return OutcomeStatus(refusal.outcome);
}

}  // namespace morven
