#include "LogWriter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>

namespace pellux {

using Clock = std::chrono::steady_clock;

struct LogWriter::State {
    std::unique_ptr<ArrivalLog> log;
    std::function<void(const QString&)> failed;
    // Written once, at the end: wakes a wait for room in the file.
    const int endFd = eventfd(0, EFD_CLOEXEC);

    std::mutex mutex;
    std::condition_variable changed;  // lines queued, the end asked for, or the thread ended
    QByteArray queue;
    qsizetype writing = 0;  // taken from the queue, not written yet
    bool ending = false;
    Clock::time_point endBy;
    bool hasFailed = false;
    bool ended = false;

    ~State() { close(endFd); }

    // Until the file takes more (true), or the end's time for it is over (false).
    bool WaitForRoom(int fd) {
        pollfd waits[2] = {{fd, POLLOUT, 0}, {endFd, POLLIN, 0}};
        for (;;) {
            int timeout = -1;
            {
                std::lock_guard lock(mutex);
                if (ending) {
                    using std::chrono::milliseconds;
                    const auto left =
                        std::chrono::duration_cast<milliseconds>(endBy - Clock::now()).count();
                    if (left <= 0) return false;
                    timeout = int(left);
                }
            }
            // Once ending, the end's descriptor stays readable: only the file is waited for.
            const int ready = poll(waits, timeout < 0 ? 2 : 1, timeout);
            if (ready < 0 && errno != EINTR) return false;
            if (ready > 0 && waits[0].revents != 0) return true;
        }
    }
};

LogWriter::LogWriter(std::unique_ptr<ArrivalLog> log, std::function<void(const QString&)> failed)
    : path_(log->Path()), state_(std::make_shared<State>()) {
    state_->log = std::move(log);
    state_->failed = std::move(failed);
    thread_ = std::thread(&LogWriter::Run, state_);
}

LogWriter::~LogWriter() {
    State& state = *state_;
    std::unique_lock lock(state.mutex);
    state.ending = true;
    state.endBy = Clock::now() + std::chrono::milliseconds(EndLimitMs);
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t written = write(state.endFd, &one, sizeof one);
    state.changed.notify_all();
    // A little past the thread's own limit, by which it gives up unless write(2) holds it.
    const bool ended = state.changed.wait_until(lock, state.endBy + std::chrono::milliseconds(100),
                                                [&] { return state.ended; });
    lock.unlock();
    if (ended)
        thread_.join();
    else
        thread_.detach();
}

bool LogWriter::Failed() const {
    std::lock_guard lock(state_->mutex);
    return state_->hasFailed;
}

bool LogWriter::Queue(const QByteArray& lines) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->hasFailed || state_->queue.size() + state_->writing + lines.size() > QueueLimit)
            return false;
        state_->queue += lines;
    }
    state_->changed.notify_all();
    return true;
}

void LogWriter::Run(const std::shared_ptr<State>& owned) {
    // A pipe whose reader went away answers EPIPE here; its signal stays pending on this thread
    // instead of ending the console.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    State& state = *owned;
    std::unique_lock lock(state.mutex);
    for (;;) {
        state.changed.wait(lock, [&] { return !state.queue.isEmpty() || state.ending; });
        if (state.queue.isEmpty()) break;
        const QByteArray lines = std::exchange(state.queue, {});
        state.writing = lines.size();
        lock.unlock();
        const QString error =
            state.log->Append(lines, [&state](int fd) { return state.WaitForRoom(fd); });
        lock.lock();
        state.writing = 0;
        if (!error.isEmpty()) {
            state.hasFailed = true;
            // Under the lock: once the end has begun, nobody is told any more.
            if (!state.ending) state.failed(error);
            break;
        }
    }
    state.ended = true;
    state.changed.notify_all();
}

}  // namespace pellux
