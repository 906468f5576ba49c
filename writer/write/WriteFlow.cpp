#include "WriteFlow.h"

#include <QElapsedTimer>

#include "WriteRecord.h"
#include "WriteSequence.h"

namespace morven {

WriteFlow::WriteFlow(SerialLink& link, BoardPort board, ProgressDisplay& progress, WriteLog* log)
    : link_(link), board_(std::move(board)), progress_(progress), log_(log) {}

void WriteFlow::Cancel(int status, const QString& text) {
    if (link_.Cancelled()) return;  // the first reason stands
    cancelStatus_ = status;
    cancelText_ = text;
    link_.Cancel();
}

Task<WriteResult> WriteFlow::Write(const WriteJob& job, const BoardImage& image) {
    WriteResult result{.started = QDateTime::currentDateTimeUtc(),
                       .board = board_,
                       .length = image.Length(),
                       .sha256 = image.Sha256(),
                       .serialValue = image.SerialValue()};
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
    result.text = result.Cancelled() ? cancelText_ : writer.OutcomeText(result.outcome);
    result.status = result.Cancelled() ? cancelStatus_ : OutcomeStatus(result.outcome);
    if (log_) log_->Append(RecordOfWrite(job, result));
    co_return result;
}

}  // namespace morven
