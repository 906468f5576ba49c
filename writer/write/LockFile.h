#pragma once

#include <QString>

#include "SerialStore.h"

namespace morven {

// An exclusive flock(2) on a file of its own beside what it guards (git's habit: STATE.lock
// beside STATE), held for as long as the object lives, let go by the system when the process
// dies however it dies. The lock file is never removed: a waiter holds it open.
class LockFile {
public:
    // Waits for the lock until it is let go or wait.stop() says so.
    LockFile(const QString& path, const TakeWait& wait);
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    bool Held() const { return held_; }
    bool Stopped() const { return stopped_; }
    // Why it is not held, when not stopped.
    const QString& Error() const { return error_; }

private:
    int fd_ = -1;
    bool held_ = false;
    bool stopped_ = false;
    QString error_;
};

}  // namespace morven
