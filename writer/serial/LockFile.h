#pragma once

#include <QString>

#include "UnitNumberStore.h"

namespace morven {

// An exclusive flock(2), held for as long as the object lives, let go by the system when the
// process dies however it dies: on a file of its own beside what it guards (git's habit:
// STATE.lock beside STATE; never removed, a waiter holds it open), or on a folder itself,
// which cannot be unlinked while it holds files, so no one can lock another in its place.
class LockFile {
public:
    enum class Kind { File, Folder };
    // Waits for the lock until it is let go or wait.stop() says so. A file is made (and its
    // folder) when missing; a folder must exist.
    LockFile(const QString& path, const TakeWait& wait, Kind kind = Kind::File);
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    bool Held() const { return held_; }
    bool Stopped() const { return stopped_; }
    // Why it is not held, when not stopped.
    const QString& Error() const { return error_; }
    // The locked file or folder, while held.
    int Descriptor() const { return fd_; }

private:
    int fd_ = -1;
    bool held_ = false;
    bool stopped_ = false;
    QString error_;
};

}  // namespace morven
