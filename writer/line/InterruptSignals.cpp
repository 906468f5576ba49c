#include "InterruptSignals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace morven {

namespace {

int wakeFds[2] = {-1, -1};
volatile std::sig_atomic_t received = 0;

constexpr int Interrupts[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int signal) {
    const int savedErrno = errno;
    if (received == 0) received = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(wakeFds[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

InterruptSignals::InterruptSignals(std::function<void()> onInterrupt, QObject* parent)
    : QObject(parent), onInterrupt_(std::move(onInterrupt)) {
    received = 0;  // a signal an earlier handler took was that one's
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wakeFds) != 0)
        qFatal("cannot create the signal socket pair");
    notifier_ = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &InterruptSignals::Deliver);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : Interrupts) sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

InterruptSignals::~InterruptSignals() {
    for (const int signal : Interrupts) std::signal(signal, SIG_DFL);
    delete notifier_;
    close(wakeFds[0]);
    close(wakeFds[1]);
}

int InterruptSignals::Received() { return received; }

void InterruptSignals::DieBySignal() {
    const int signal = received;
    std::signal(signal, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    std::raise(signal);
    std::_Exit(128 + signal);  // not reached
}

void InterruptSignals::Deliver() {
    char bytes[16];
    while (read(wakeFds[0], bytes, sizeof bytes) > 0) {
    }
    onInterrupt_();
}

}  // namespace morven
