#include "ArrivalReader.h"

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

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
    : fd_(fd), stopFd_(eventfd(0, EFD_CLOEXEC)), keep_(keep), arrived_(std::move(arrived)) {}

ArrivalReader::~ArrivalReader() {
    stopping_ = true;
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t written = write(stopFd_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
    close(stopFd_);
}

void ArrivalReader::Start() { thread_ = std::thread(&ArrivalReader::Run, this); }

void ArrivalReader::SetLog(std::unique_ptr<ArrivalLog> log) {
    std::lock_guard lock(logMutex_);
    log_ = std::move(log);
}

QString ArrivalReader::LogPath() const {
    std::lock_guard lock(logMutex_);
    return log_ ? log_->Path() : QString();
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
    pollfd waits[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        if (poll(waits, 2, -1) < 0 && errno != EINTR) return;
        if (waits[1].revents != 0 || !Drain(buffers)) return;
    }
}

// Until the socket has nothing more: a full batch means more may wait.
bool ArrivalReader::Drain(Buffers& room) {
    auto& [payloads, senders, controls, vectors, messages] = room;
    sockaddr_storage lastSender{};
    socklen_t lastSenderLength = 0;
    QByteArray lastSenderText;
    // A flood keeps every batch full: the end is looked for between batches too.
    for (int received = Batch; received == Batch && !stopping_;) {
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
    QString logError;
    {
        std::lock_guard lock(logMutex_);
        if (log_ && !batch.empty()) {
            QByteArray lines;
            for (const Arrival& arrival : batch) lines += LogLine(arrival);
            logError = log_->Append(lines);
            if (!logError.isEmpty()) log_.reset();
        }
    }
    bool announce = false;
    {
        std::lock_guard lock(takenMutex_);
        for (Arrival& arrival : batch) taken_.arrivals.push_back(std::move(arrival));
        for (; taken_.arrivals.size() > size_t(keep_); taken_.arrivals.pop_front())
            taken_.notKept += taken_.arrivals.front().lost == 0 ? 1 : 0;
        if (!error.isEmpty()) taken_.error = error;
        if (!logError.isEmpty()) taken_.error = logError;
        announce = !announced_ && (!taken_.arrivals.empty() || !taken_.error.isEmpty());
        announced_ = announced_ || announce;
    }
    if (announce) arrived_();
}

}  // namespace pellux
