#include "BoardSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>

namespace {

constexpr int PollIntervalMs = 5;

double MonotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void SleepUntil(double seconds) {
    timespec until{};
    until.tv_sec = static_cast<time_t>(seconds);
    until.tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

void SleepMs(int ms) { SleepUntil(MonotonicSeconds() + ms / 1000.0); }

int BaudOf(speed_t speed) {
    switch (speed) {
        case B1200: return 1200;
        case B2400: return 2400;
        case B4800: return 4800;
        case B9600: return 9600;
        case B19200: return 19200;
        case B38400: return 38400;
        case B57600: return 57600;
        case B115200: return 115200;
        default: return 0;
    }
}

// One byte on the wire at 8N1 takes ten bit times: it is through once the wire has been free
// for that long since the byte could start (notBefore). Oversleeping does not add up, since
// the next byte starts from where this one ended on the wire.
void PaceOneByte(double* freeAt, int baud, double notBefore) {
    *freeAt = std::max(*freeAt, notBefore) + 10.0 / std::max(baud, 1);
    SleepUntil(*freeAt);
}

}  // namespace

BoardSimulator::BoardSimulator(Options options)
    : options_(std::move(options)), protocol_(options_.faults), startTime_(MonotonicSeconds()) {
#ifdef PR_SET_TIMERSLACK
    // Pacing sleeps a fraction of a millisecond per byte; the default 50 us slack would show.
    if (options_.pace) prctl(PR_SET_TIMERSLACK, 1UL);
#endif
}

BoardSimulator::~BoardSimulator() {
    Stop();
    ClosePty();
}

std::string BoardSimulator::SlavePath() const {
    std::lock_guard lock(mutex_);
    return slavePath_;
}

bool BoardSimulator::Open(std::string* error) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        if (master >= 0) close(master);
        return false;
    }
    // Programs the host side starts (a writer under test) must not hold the line open.
    fcntl(master, F_SETFD, FD_CLOEXEC);
    termios settings{};
    tcgetattr(master, &settings);
    cfmakeraw(&settings);
    cfsetspeed(&settings, B19200);
    tcsetattr(master, TCSANOW, &settings);

    const char* name = ptsname(master);
    std::string path = name ? name : "";
    if (!options_.linkPath.empty()) {
        // Only a link is ever replaced: a file or folder at that path is someone's data.
        struct stat existing {};
        if (lstat(options_.linkPath.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
            *error = options_.linkPath + " exists and is not a symbolic link; it is left alone";
            close(master);
            return false;
        }
        unlink(options_.linkPath.c_str());
        if (symlink(path.c_str(), options_.linkPath.c_str()) != 0) {
            *error = "cannot link " + options_.linkPath + ": " + std::strerror(errno);
            close(master);
            return false;
        }
    }
    std::lock_guard lock(mutex_);
    master_ = master;
    ++linesOpened_;
    slavePath_ = path;
    hostConnected_ = false;
    return true;
}

void BoardSimulator::ClosePty() {
    if (master_ < 0) return;
    close(master_);
    master_ = -1;
    if (!options_.linkPath.empty()) unlink(options_.linkPath.c_str());
}

// As an unplugged adapter: the host's device goes away; a fresh line takes its place.
void BoardSimulator::DropLine() {
    ClosePty();
    protocol_.Reset();
    std::string error;
    Open(&error);
}

void BoardSimulator::StartInBackground() {
    thread_ = std::thread([this] { Serve(); });
}

void BoardSimulator::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

bool BoardSimulator::Serve() {
    while (!stop_ && master_ >= 0) {
        pollfd poller{master_, POLLIN, 0};
        const int ready = poll(&poller, 1, PollIntervalMs);
        if (ready < 0 && errno != EINTR) break;
        if (ready == 0) {
            hostConnected_ = true;  // no hang-up reported: the slave is open
            continue;
        }
        std::uint8_t buffer[4096];
        const ssize_t count = (poller.revents & POLLIN) ? read(master_, buffer, sizeof buffer) : -1;
        if (count <= 0) {
            // No slave open: the host closed its port, or has not opened it yet.
            if (hostConnected_) {
                hostConnected_ = false;
                ++hangUps_;
                // With `once`, the write is over when the host lets go of the line, except at
                // the switch between the two stages. A host that opened and closed the line
                // without sending (a port test) has not begun a write.
                const bool switchingStage =
                    protocol_.CurrentState() == BoardProtocol::State::Opening;
                if (options_.once && hostHasSent_ && !switchingStage) return lastWriteMatched_;
                protocol_.Hangup();
            }
            SleepMs(1);
            continue;
        }
        hostConnected_ = true;
        hostHasSent_ = true;
        const int hostBaud = HostBaud();
        const double readAt = MonotonicSeconds();
        // A dropped line takes the rest of what was read with it.
        const int line = linesOpened_;
        for (ssize_t i = 0; i < count && linesOpened_ == line; ++i)
            Deliver(buffer[i], hostBaud, readAt);
    }
    return lastWriteMatched_;
}

void BoardSimulator::Deliver(std::uint8_t byte, int hostBaud, double readAt) {
    if (options_.pace) PaceOneByte(&receiveFreeAt_, hostBaud, readAt);
    Log(true, byte, hostBaud);
    // After a finished write the kernel hands back to the boot program: a host that closed
    // and reopened faster than the hang-up could be seen still finds the board ready.
    if (protocol_.WriteFinished() && hostBaud == BoardProtocol::BootBaud) protocol_.Reset();
    // A UART listening at another speed than the sender's sees garbage.
    const int targetBaud = protocol_.ListeningBaud();
    const std::uint8_t seen = hostBaud == targetBaud ? byte : BoardProtocol::Garble(byte);
    const bool wasFinished = protocol_.WriteFinished();
    const BoardAnswer answer = protocol_.Receive(seen);
    if (!wasFinished && protocol_.WriteFinished()) RecordFinishedWrite();
    Answer(answer, targetBaud);
}

void BoardSimulator::Answer(const BoardAnswer& answer, int targetBaud) {
    // With pace, the target answers as soon as the byte it answers is through, not when this
    // thread happened to wake up.
    double readyAt = options_.pace ? receiveFreeAt_ : 0;
    for (const BoardAnswer::Step& step : answer.steps) {
        if (step.delayMs > 0) {
            SleepMs(step.delayMs);
            readyAt = MonotonicSeconds();
        }
        SendByte(step.byte, targetBaud, readyAt);
    }
    if (answer.dropLine) DropLine();
}

void BoardSimulator::SendByte(std::uint8_t byte, int targetBaud, double readyAt) {
    const int hostBaud = HostBaud();
    if (options_.pace) PaceOneByte(&sendFreeAt_, targetBaud, readyAt);
    const std::uint8_t seen = hostBaud == targetBaud ? byte : BoardProtocol::Garble(byte);
    Log(false, seen, hostBaud);
    // A host that has closed its port loses the byte, as on a real wire.
    [[maybe_unused]] const ssize_t written = write(master_, &seen, 1);
}

void BoardSimulator::RecordFinishedWrite() {
    lastWriteMatched_ = protocol_.ChecksumMatched();
    if (!lastWriteMatched_) return;
    if (!options_.imageOutPath.empty()) {
        std::ofstream out(options_.imageOutPath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(protocol_.Image().data()),
                  static_cast<std::streamsize>(protocol_.Image().size()));
    }
    std::lock_guard lock(mutex_);
    lastImage_ = protocol_.Image();
    ++completedWrites_;
}

void BoardSimulator::Log(bool fromHost, std::uint8_t byte, int baud) {
    if (!options_.keepWireLog) return;
    std::lock_guard lock(mutex_);
    wireLog_.push_back({SecondsSinceStart(), fromHost, byte, baud});
}

int BoardSimulator::HostBaud() const {
    termios settings{};
    if (tcgetattr(master_, &settings) != 0) return 0;
    return BaudOf(cfgetospeed(&settings));
}

double BoardSimulator::SecondsSinceStart() const { return MonotonicSeconds() - startTime_; }

int BoardSimulator::CompletedWrites() const {
    std::lock_guard lock(mutex_);
    return completedWrites_;
}

std::vector<std::uint8_t> BoardSimulator::LastImage() const {
    std::lock_guard lock(mutex_);
    return lastImage_;
}

std::vector<WireEvent> BoardSimulator::WireLog() const {
    std::lock_guard lock(mutex_);
    return wireLog_;
}

void BoardSimulator::ClearWireLog() {
    std::lock_guard lock(mutex_);
    wireLog_.clear();
}
