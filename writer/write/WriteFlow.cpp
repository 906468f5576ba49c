#include "WriteFlow.h"

#include <QElapsedTimer>

#include "WriteSequence.h"

namespace morven {

WriteFlow::WriteFlow(SerialLink& link, BoardPort board, ProgressDisplay& progress,
                     WriteRecorder* log)
    : link_(link), board_(std::move(board)), progress_(progress), log_(log) {}

WriteResult StartedResult(const BoardPort& board, const BoardImage& image) {
    return {.started = QDateTime::currentDateTimeUtc(),
            .board = board,
            .length = image.Length(),
            .sha256 = image.Sha256(),
            .unitNumber = image.UnitNumber()};
}

void CancelReason::Cancel(SerialLink& link, int why, const QString& words) {
    if (link.Cancelled()) return;  // the first reason stands
    status = why;
    text = words;
    link.Cancel();
}

void WriteFlow::Cancel(int status, const QString& text) { cancelled_.Cancel(link_, status, text); }

Task<WriteResult> WriteFlow::Write(const WriteJob& job, const BoardImage& image) {
    WriteResult result = StartedResult(board_, image);
    QElapsedTimer clock;
    clock.start();
    Port& port = link_.Line();
    FlashWriter writer(link_, progress_, job.Kernel, image);
    // A network port connects and sets its line before anything is sent. (Each awaited value
    // is held on its own: g++ 12 miscompiles some co_await inside larger expressions.)
    bool opened = port.OpenPort();
    if (opened) opened = co_await link_.AwaitOpen();
    if (opened) {
        port.DiscardInput();
        result.outcome = co_await writer.WriteSequence();
    } else {
        result.outcome = link_.Cancelled() ? WriteOutcome::Cancelled : WriteOutcome::PortOpenFailed;
    }
    port.ClosePort();
    port.SetLineSettings(QString::fromLatin1(Port::BootLineSettings));
    result.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    result.text = result.Cancelled() ? cancelled_.text : writer.OutcomeText(result.outcome);
    result.status = result.Cancelled() ? cancelled_.status : OutcomeStatus(result.outcome);
    if (log_) log_->Record(job, result);
    co_return result;
}

}  // namespace morven
