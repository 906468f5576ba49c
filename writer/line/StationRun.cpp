#include "StationRun.h"

#include <optional>

#include "port/RemoteAddress.h"
#include "port/SerialDevices.h"
#include "port/SerialPort.h"
#include "write/RemoteWriteFlow.h"

namespace morven {

// One board of a run: the port it is on, and its write's own link, timers and flow; a board
// named by ssh:// is written on its own machine, the link only holding its place among the
// waits.
struct StationRun::Board {
    Board(const ChosenPort& chosen, BoardImage boardImage, ProgressDisplay& progress, WriteLog* log)
        : image(std::move(boardImage)) {
        const BoardPort board{chosen.name, DescribeSerialDevice(chosen.device)};
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

    BoardImage image;  // the job's, with this board's serial value
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
                       WriteLog* log)
    : job_(job) {
    for (qsizetype board = 0; board < ports.size(); ++board)
        boards_.push_back(std::make_unique<Board>(ports[board], std::move(images[size_t(board)]),
                                                  *progress[size_t(board)], log));
}

StationRun::~StationRun() = default;

QList<WriteResult> StationRun::Run(const BoardEnded& ended) {
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

void StationRun::Cancel(int status, const QString& text) {
    for (const auto& board : boards_) board->Cancel(status, text);
}

}  // namespace morven
