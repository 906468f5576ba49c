#include "ArrivalReader.h"

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "ArrivalText.h"

namespace pellux {

namespace {

// Datagrams taken per recvmmsg; each slot holds the largest datagram there is.
constexpr int Batch = 64;
constexpr size_t Slot = 65536;

qint64 NowMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

QByteArray SenderText(const sockaddr_storage& from) {
    char address[INET6_ADDRSTRLEN + IF_NAMESIZE + 1] = {};
    if (from.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(from);
        inet_ntop(AF_INET6, &in6.sin6_addr, address, sizeof address);
        QByteArray text = '[' + QByteArray(address);
        char interface[IF_NAMESIZE] = {};
        if (in6.sin6_scope_id != 0 && if_indextoname(in6.sin6_scope_id, interface))
            text += '%' + QByteArray(interface);
        return text + "]:" + QByteArray::number(ntohs(in6.sin6_port));
    }
    const auto& in4 = reinterpret_cast<const sockaddr_in&>(from);
    inet_ntop(AF_INET, &in4.sin_addr, address, sizeof address);
    return QByteArray(address) + ':' + QByteArray::number(ntohs(in4.sin_port));
}

// The kernel's drop count now: datagrams lost after the last one queued show only here.
quint32 KernelDrops(int fd) {
    std::array<quint32, SK_MEMINFO_VARS> memory{};
    socklen_t length = sizeof memory;
    if (getsockopt(fd, SOL_SOCKET, SO_MEMINFO, memory.data(), &length) != 0) return 0;
    return memory[SK_MEMINFO_DROPS];
}

}  // namespace

ArrivalReader::ArrivalReader(int fd, qsizetype keep, std::function<void()> arrived)
    : fd_(fd), wakeFd_(eventfd(0, EFD_CLOEXEC)), keep_(keep), arrived_(std::move(arrived)) {}

ArrivalReader::~ArrivalReader() {
    stopping_ = true;
    Wake();
    if (thread_.joinable()) thread_.join();
    // The log's writer ends before taken_, where its failure would be kept, goes.
    SetLog(nullptr);
    close(wakeFd_);
}

void ArrivalReader::Wake() {
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

void ArrivalReader::Start() { thread_ = std::thread(&ArrivalReader::Run, this); }

void ArrivalReader::Hold(bool held) {
    held_ = held;
    Wake();
}

void ArrivalReader::SetLog(std::unique_ptr<ArrivalLog> log) {
    std::unique_ptr<LogWriter> writer;
    if (log)
        writer = std::make_unique<LogWriter>(std::move(log), [this](const QString& error) {
            std::deque<Arrival> none;
            Keep(none, 0, error);
        });
    {
        std::lock_guard lock(logMutex_);
        std::swap(log_, writer);
        unloggedSinceLogged_ = 0;
    }
    // The old log ends here, out of the reader's way.
}

QString ArrivalReader::LogPath() const {
    std::lock_guard lock(logMutex_);
    return log_ && !log_->Failed() ? log_->Path() : QString();
}

ArrivalReader::Taken ArrivalReader::Take() {
    std::lock_guard lock(takenMutex_);
    announced_ = false;
    return std::exchange(taken_, {});
}

// Room for one recvmmsg, made once per reader.
struct ArrivalReader::Buffers {
    std::vector<char> payloads = std::vector<char>(Batch * Slot);
    std::array<sockaddr_storage, Batch> senders{};
    std::array<std::array<char, 64>, Batch> controls{};
    std::array<iovec, Batch> vectors{};
    std::array<mmsghdr, Batch> messages{};
};

void ArrivalReader::Run() {
    Buffers buffers;
    pollfd waits[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    for (;;) {
        // Held, the socket is left out: poll passes over a negative descriptor.
        waits[0].fd = held_ ? -1 : fd_;
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (waits[1].revents != 0) {
            quint64 count = 0;
            [[maybe_unused]] const ssize_t cleared = read(wakeFd_, &count, sizeof count);
            if (stopping_) return;
        } else if (!Drain(buffers)) {
            return;
        }
    }
}

// Until the socket has nothing more: a full batch means more may wait.
bool ArrivalReader::Drain(Buffers& room) {
    auto& [payloads, senders, controls, vectors, messages] = room;
    sockaddr_storage lastSender{};
    socklen_t lastSenderLength = 0;
    QByteArray lastSenderText;
    // A flood keeps every batch full: the end is looked for between batches too.
    for (int received = Batch; received == Batch && !stopping_ && !held_;) {
        for (int i = 0; i < Batch; ++i) {
            vectors[i] = {payloads.data() + i * Slot, Slot};
            messages[i].msg_hdr = {&senders[i],
                                   sizeof senders[i],
                                   &vectors[i],
                                   1,
                                   controls[i].data(),
                                   controls[i].size(),
                                   0};
        }
        received = recvmmsg(fd_, messages.data(), Batch, MSG_DONTWAIT, nullptr);
        if (received < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                std::deque<Arrival> after;
                NoteDrops(KernelDrops(fd_), NowMicroseconds(), after);
                Hand(after);
                break;
            }
            std::deque<Arrival> none;
            Hand(none, QStringLiteral("Reading the socket failed: %1")
                           .arg(QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
        std::deque<Arrival> batch;
        for (int i = 0; i < received; ++i) {
            msghdr& header = messages[i].msg_hdr;
            Arrival arrival;
            quint32 drops = 0;
            for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
                if (c->cmsg_level != SOL_SOCKET) continue;
                if (c->cmsg_type == SCM_TIMESTAMP) {
                    timeval stamp;
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                    arrival.microseconds = qint64(stamp.tv_sec) * 1000000 + stamp.tv_usec;
                } else if (c->cmsg_type == SO_RXQ_OVFL) {
                    std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
                }
            }
            if (arrival.microseconds == 0) arrival.microseconds = NowMicroseconds();
            NoteDrops(drops, arrival.microseconds, batch);
            if (header.msg_namelen != lastSenderLength ||
                std::memcmp(&senders[i], &lastSender, header.msg_namelen) != 0) {
                lastSender = senders[i];
                lastSenderLength = header.msg_namelen;
                lastSenderText = SenderText(senders[i]);
            }
            arrival.sender = lastSenderText;
            arrival.payload = QByteArray(static_cast<const char*>(vectors[i].iov_base),
                                         qsizetype(messages[i].msg_len));
            batch.push_back(std::move(arrival));
        }
        if (received < Batch) NoteDrops(KernelDrops(fd_), NowMicroseconds(), batch);
        Hand(batch);
    }
    return true;
}

void ArrivalReader::NoteDrops(quint32 drops, qint64 microseconds, std::deque<Arrival>& batch) {
    // The count is the kernel's running total (it wraps at 2^32); only a rise is news.
    const quint32 lost = drops - drops_;
    if (lost == 0 || lost > 0x80000000u) return;
    drops_ = drops;
    lostTotal_ += lost;
    Arrival news;
    news.microseconds = microseconds;
    news.lost = lost;
    batch.push_back(std::move(news));
}

void ArrivalReader::Hand(std::deque<Arrival>& batch, const QString& error) {
    if (batch.empty() && error.isEmpty()) return;
    Keep(batch, batch.empty() ? 0 : Log(batch), error);
}

// Queues the batch's lines for the log; the datagrams it had no room for.
quint64 ArrivalReader::Log(const std::deque<Arrival>& batch) {
    std::lock_guard lock(logMutex_);
    if (!log_ || log_->Failed()) return 0;
    QByteArray lines;
    if (unloggedSinceLogged_ != 0)
        lines += UnloggedLine(batch.front().microseconds, unloggedSinceLogged_);
    for (const Arrival& arrival : batch) lines += LogLine(arrival);
    if (log_->Queue(lines)) {
        unloggedSinceLogged_ = 0;
        return 0;
    }
    const auto datagrams = quint64(
        std::count_if(batch.cbegin(), batch.cend(), [](const Arrival& a) { return a.lost == 0; }));
    unloggedSinceLogged_ += datagrams;
    unloggedTotal_ += datagrams;
    return datagrams;
}

// Keeps the batch for the window, and tells it when nothing waited before.
void ArrivalReader::Keep(std::deque<Arrival>& batch, quint64 unlogged, const QString& error) {
    bool announce = false;
    {
        std::lock_guard lock(takenMutex_);
        for (Arrival& arrival : batch) taken_.arrivals.push_back(std::move(arrival));
        for (; taken_.arrivals.size() > size_t(keep_); taken_.arrivals.pop_front())
            taken_.notKept += taken_.arrivals.front().lost == 0 ? 1 : 0;
        taken_.unlogged += unlogged;
        if (!error.isEmpty()) taken_.error = error;
        announce = !announced_ && (!taken_.arrivals.empty() || !taken_.error.isEmpty());
        announced_ = announced_ || announce;
    }
    if (announce) arrived_();
}

}  // namespace pellux
