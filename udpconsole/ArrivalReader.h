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

namespace pellux {

// Reads the console's socket on a thread of its own, whatever the window is doing: it sleeps in
// poll until datagrams wait, takes all of them with recvmmsg, writes them to the log (if any)
// and keeps them for the window until it takes them.
class ArrivalReader {
public:
    // keep: how many arrivals wait for the window at most; older ones give way (the log has
    // them). arrived is called on the reader's thread when arrivals wait and none did before.
    ArrivalReader(int fd, qsizetype keep, std::function<void()> arrived);
    // Ends the thread, after the batch in hand is logged.
    ~ArrivalReader();
    ArrivalReader(const ArrivalReader&) = delete;
    ArrivalReader& operator=(const ArrivalReader&) = delete;

    void Start();
    // A log to write from now on; nullptr for none.
    void SetLog(std::unique_ptr<ArrivalLog> log);
    QString LogPath() const;

    struct Taken {
        std::deque<Arrival> arrivals;
        quint64 notKept = 0;  // older datagrams that gave way to newer ones before being taken
        QString error;  // the log failed (and was closed), or the socket did (and reading ended)
    };
    Taken Take();
    // Datagrams the kernel dropped since the start.
    quint64 Lost() const { return lostTotal_; }

private:
    struct Buffers;
    void Run();
    bool Drain(Buffers& room);
    void NoteDrops(quint32 drops, qint64 microseconds, std::deque<Arrival>& batch);
    void Hand(std::deque<Arrival>& batch, const QString& error = {});

    const int fd_;
    const int stopFd_;
    const qsizetype keep_;
    std::function<void()> arrived_;
    std::thread thread_;
    std::atomic<bool> stopping_ = false;

    mutable std::mutex logMutex_;
    std::unique_ptr<ArrivalLog> log_;

    std::mutex takenMutex_;
    Taken taken_;
    bool announced_ = false;

    quint32 drops_ = 0;  // the kernel's count when last seen
    std::atomic<quint64> lostTotal_ = 0;
};

}  // namespace pellux
