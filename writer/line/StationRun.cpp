#include "StationRun.h"

#include <optional>

#include "port/SerialDevices.h"
#include "port/SerialPort.h"

namespace morven {

// One board of a run: the port it is on, and its write's own link, timers and flow.
struct StationRun::Board {
    Board(const ChosenPort& chosen, BoardImage boardImage, ProgressDisplay& progress,
          WriteLog* log)
        : image(std::move(boardImage)),
          flow(link, {chosen.name, DescribeSerialDevice(chosen.device)}, progress, log) {
        if (chosen.number > 0)
            serial.SelectPort(chosen.number);
        else
            serial.SelectDevice(chosen.device);
    }

    BoardImage image;  // the job's, with this board's serial value
    SerialPort serial;
    SerialLink link{serial};
    WriteFlow flow;
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
        each.task.emplace(Told(each.flow.Write(job_, each.image), int(board), ended));
        each.task->Start();
        links.push_back(&each.link);
    }
    DriveLinks(links);
    QList<WriteResult> results;
    for (const auto& board : boards_) results << board->task->Result();
    return results;
}

void StationRun::Cancel(int status, const QString& text) {
    for (const auto& board : boards_) board->flow.Cancel(status, text);
}

}  // namespace morven
