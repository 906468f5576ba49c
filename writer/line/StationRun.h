#pragma once

#include <QList>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "PortChoice.h"
#include "write/BoardImage.h"
#include "write/ProgressDisplay.h"
#include "write/WriteFlow.h"
#include "write/WriteJob.h"
#include "write/WriteRecorder.h"

namespace morven {

// A gang's writes of one job: every board on its own port, with its own image, progress and
// flow, all driven together on this thread's event loop. Both front ends run a station this way.
class StationRun {
public:
    // One progress display and one image per port, in the ports' order; log may be null. The job,
    // the displays and the log must outlive the run.
    StationRun(const WriteJob& job, const QList<ChosenPort>& ports, std::vector<BoardImage> images,
               std::span<ProgressDisplay* const> progress, WriteRecorder* log);
    ~StationRun();

    // Called the moment a board's write is on record, while the others may still be writing.
    using BoardEnded = std::function<void(int board, const WriteResult& result)>;
    // Writes every board at once and returns each board's result, in the ports' order.
    QList<WriteResult> Run(const BoardEnded& ended = {});
    // Ends every write at its current wait; each is recorded with this status and text. Before
    // Run, no port is opened: each board ends at once, on record with them.
    void Cancel(int status, const QString& text);

private:
    struct Board;
    QList<WriteResult> EndedBeforeStart(const BoardEnded& ended);

    const WriteJob& job_;
    WriteRecorder* log_;
    std::vector<std::unique_ptr<Board>> boards_;
    std::optional<CancelReason> cancelled_;  // before Run
};

}  // namespace morven
