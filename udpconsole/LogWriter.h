#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <thread>

#include "ArrivalLog.h"

namespace pellux {

// Writes the log on a thread of its own from a bounded queue, so that a file slower than the
// board (a pipe nobody empties, a stalled disk) never holds up the reader nor the end.
class LogWriter {
public:
    // Lines queued and not yet written, at most: a full receive buffer's text datagrams, or some
    // twenty seconds of a chatty board's short lines.
    static constexpr qsizetype QueueLimit = qsizetype(32) << 20;
    // How long the end waits for the file to take what is queued.
    static constexpr int EndLimitMs = 500;

    // failed is called on the writer's thread, once, when the file refuses lines (a full disk);
    // the log has ended then.
    LogWriter(std::unique_ptr<ArrivalLog> log, std::function<void(const QString&)> failed);
    // Writes what is queued while the file takes it, for EndLimitMs at most. A thread that
    // write(2) still holds then (a regular file on a hung disk ignores O_NONBLOCK) is left
    // behind: it owns all it touches, and the process's end ends it.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    QString Path() const { return path_; }
    bool Failed() const;
    // Queues whole lines; false, and none of them queued, when they do not fit.
    bool Queue(const QByteArray& lines);

private:
    struct State;
    static void Run(const std::shared_ptr<State>& state);

    const QString path_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace pellux
