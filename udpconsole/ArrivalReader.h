#pragma once

#include <QString>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "Arrival.h"
#include "ArrivalLog.h"
#include "LogWriter.h"

namespace pellux {

// Reads the console's socket on a thread of its own, whatever the window is doing: it sleeps in
// poll until datagrams wait, takes all of them with recvmmsg, hands them to the log's writer (if
// any) and keeps them for the window until it takes them.
class ArrivalReader {
public:
    // keep: how many arrivals wait for the window at most; older ones give way (the log has
    // them). arrived is called on the reader's thread when arrivals wait and none did before.
    ArrivalReader(int fd, qsizetype keep, std::function<void()> arrived);
    // Ends the thread, after the batch in hand is queued for the log, then the log's writer.
    ~ArrivalReader();
    ArrivalReader(const ArrivalReader&) = delete;
    ArrivalReader& operator=(const ArrivalReader&) = delete;

    void Start();
    // For a test: held, the reader takes nothing more, so that the socket's queue fills.
    void Hold(bool held);
    // A log to write from now on; nullptr for none.
    void SetLog(std::unique_ptr<ArrivalLog> log);
    QString LogPath() const;

    struct Taken {
        std::deque<Arrival> arrivals;
        quint64 notKept = 0;   // older datagrams that gave way to newer ones before being taken
        quint64 unlogged = 0;  // datagrams the log's queue had no room for
        QString error;  // the log failed (and was closed), or the socket did (and reading ended)
    };
    Taken Take();
    // Datagrams the kernel dropped since the start.
    quint64 Lost() const { return lostTotal_; }
    // Datagrams not logged since the start, because the log fell behind.
    quint64 Unlogged() const { return unloggedTotal_; }

private:
    struct Buffers;
    void Run();
    void Wake();
    bool Drain(Buffers& room);
    void NoteDrops(quint32 drops, qint64 microseconds, std::deque<Arrival>& batch);
    void Hand(std::deque<Arrival>& batch, const QString& error = {});
    quint64 Log(const std::deque<Arrival>& batch);
    void Keep(std::deque<Arrival>& batch, quint64 unlogged, const QString& error);

    const int fd_;
    // Written to end the thread, or to hold or release it.
    const int wakeFd_;
    const qsizetype keep_;
    std::function<void()> arrived_;
    std::thread thread_;
    std::atomic<bool> stopping_ = false;
    std::atomic<bool> held_ = false;

    mutable std::mutex logMutex_;
    std::unique_ptr<LogWriter> log_;
    quint64 unloggedSinceLogged_ = 0;  // for the log's line where they are missing

    std::mutex takenMutex_;
    Taken taken_;
    bool announced_ = false;

    quint32 drops_ = 0;  // the kernel's count when last seen
    std::atomic<quint64> lostTotal_ = 0;
    std::atomic<quint64> unloggedTotal_ = 0;
};

}  // namespace pellux
