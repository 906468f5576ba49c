#include "EndSignals.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

namespace pellux {

namespace {

sigset_t Ends() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
    return set;
}

}  // namespace

void EndSignals::Block() {
    const sigset_t ends = Ends();
    pthread_sigmask(SIG_BLOCK, &ends, nullptr);
}

EndSignals::EndSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    const sigset_t ends = Ends();
    fd_ = signalfd(-1, &ends, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) qFatal("cannot create the signal descriptor");
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &EndSignals::Deliver);
}

EndSignals::~EndSignals() {
    delete notifier_;
    close(fd_);
}

void EndSignals::DieBySignal() const {
    std::signal(received_, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, received_);
    // Pending already, or raised now: either way it ends the process on unblocking.
    std::raise(received_);
    pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    std::_Exit(128 + received_);  // not reached
}

void EndSignals::Deliver() {
    signalfd_siginfo info;
    while (read(fd_, &info, sizeof info) == ssize_t(sizeof info))
        if (received_ == 0) received_ = int(info.ssi_signo);
    if (received_ != 0) onSignal_();
}

}  // namespace pellux
