#include "StationRun.h"

#include "InterruptSignals.h"
#include "port/RemoteAddress.h"
#include "port/SerialDevices.h"
#include "port/SerialPort.h"
#include "write/RemoteWriteFlow.h"

namespace morven {

// One board of a run: the port it is on, and its write's own link, timers and flow; a board
// named by ssh:// is written on its own machine, the link only holding its place among the
// waits.
struct StationRun::Board {
    Board(const ChosenPort& chosen, BoardImage boardImage, ProgressDisplay& progress,
          WriteRecorder* log)
        : image(std::move(boardImage)), board{chosen.name, DescribeSerialDevice(chosen.device)} {
        const auto remoteAddress = RemoteAddress::Parse(chosen.device);
        if (const auto* address = std::get_if<RemoteAddress>(&remoteAddress))
            remote.emplace(link, *address, board, progress, log);
        else
            local.emplace(link, board, progress, log);
        if (chosen.number > 0)
            serial.SelectPort(chosen.number);
        else
            serial.SelectDevice(chosen.device);
    }

    Task<WriteResult> Write(const WriteJob& job) {
        return remote ? remote->Write(job, image) : local->Write(job, image);
    }
    void Cancel(int status, const QString& text) {
        if (remote) remote->Cancel(status, text);
        if (local) local->Cancel(status, text);
    }

    BoardImage image;  // the job's, with this board's unit number if it has one
    BoardPort board;
    SerialPort serial;
    SerialLink link{serial};
    std::optional<WriteFlow> local;
    std::optional<RemoteWriteFlow> remote;
    std::optional<Task<WriteResult>> task;
};

namespace {

// A board's write that tells of its end as soon as it is on record.
Task<WriteResult> Told(Task<WriteResult> write, int board, const StationRun::BoardEnded& ended) {
    WriteResult result = co_await write;
    if (ended) ended(board, result);
    co_return result;
}

}  // namespace

StationRun::StationRun(const WriteJob& job, const QList<ChosenPort>& ports,
                       std::vector<BoardImage> images, std::span<ProgressDisplay* const> progress,
                       WriteRecorder* log)
    : job_(job), log_(log) {
    for (qsizetype board = 0; board < ports.size(); ++board)
        boards_.push_back(std::make_unique<Board>(ports[board], std::move(images[size_t(board)]),
                                                  *progress[size_t(board)], log));
}

StationRun::~StationRun() = default;

QList<WriteResult> StationRun::Run(const BoardEnded& ended) {
    // A signal that came while the values were taken has not reached the event loop yet: it
    // ends every board before its port opens, each value a gap on record.
    if (InterruptSignals::Undelivered())
        Cancel(StatusSignalBase + InterruptSignals::Received(), QStringLiteral("interrupted"));
    if (cancelled_) return EndedBeforeStart(ended);
    // Every board shares the one job: the image is not copied per board.
    std::vector<SerialLink*> links;
    for (size_t board = 0; board < boards_.size(); ++board) {
        Board& each = *boards_[board];
        each.task.emplace(Told(each.Write(job_), int(board), ended));
        each.task->Start();
        links.push_back(&each.link);
    }
    DriveLinks(links);
    QList<WriteResult> results;
    for (const auto& board : boards_) results << board->task->Result();
    return results;
}

QList<WriteResult> StationRun::EndedBeforeStart(const BoardEnded& ended) {
    QList<WriteResult> results;
    for (size_t index = 0; index < boards_.size(); ++index) {
        const Board& board = *boards_[index];
        WriteResult result = StartedResult(board.board, board.image);
        result.outcome = WriteOutcome::Cancelled;
        result.status = cancelled_->status;
        result.text = cancelled_->text;
        if (log_) log_->Record(job_, result);
        if (ended) ended(int(index), result);
        results << result;
    }
    return results;
}

void StationRun::Cancel(int status, const QString& text) {
    bool started = false;
    for (const auto& board : boards_) started = started || board->task.has_value();
    if (!started) {
        if (!cancelled_) cancelled_ = CancelReason{status, text};  // the first reason stands
        return;
    }
    for (const auto& board : boards_) board->Cancel(status, text);
}

}  // namespace morven
