// A chatty board on loopback: numbered 30-byte lines ("datagram 00000000 ............") to
// 127.0.0.1:PORT at RATE a second for SECONDS, paced every millisecond, sent with sendmmsg.
// Prints how many were sent and over how long.
//
//   udp_flood RATE SECONDS [PORT]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int Length = 30;
constexpr int Chunk = 64;

double Seconds(const timespec& t) { return double(t.tv_sec) + double(t.tv_nsec) / 1e9; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: udp_flood RATE SECONDS [PORT]\n");
        return 2;
    }
    const long rate = std::atol(argv[1]);
    const long total = long(std::atof(argv[2]) * double(rate));
    const int port = argc > 3 ? std::atoi(argv[3]) : 10002;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        std::perror("connect");
        return 1;
    }
    std::vector<std::array<char, 48>> payloads(Chunk);
    std::array<iovec, Chunk> vectors{};
    std::array<mmsghdr, Chunk> messages{};
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    long sent = 0;
    for (long tick = 1; sent < total; ++tick) {
        // Everything due by the end of this millisecond.
        const long due = std::min(total, tick * rate / 1000);
        while (sent < due) {
            const int n = int(std::min<long>(Chunk, due - sent));
            for (int i = 0; i < n; ++i) {
                std::snprintf(payloads[i].data(), payloads[i].size(), "datagram %08ld ............",
                              sent + i);
                vectors[i] = {payloads[i].data(), Length};
                messages[i].msg_hdr = {nullptr, 0, &vectors[i], 1, nullptr, 0, 0};
            }
            const int done = sendmmsg(fd, messages.data(), unsigned(n), 0);
            if (done < 0) {
                std::perror("sendmmsg");
                return 1;
            }
            sent += done;
        }
        timespec next = start;
        next.tv_sec += tick / 1000;
        next.tv_nsec += (tick % 1000) * 1000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_sec += 1;
            next.tv_nsec -= 1000000000;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    std::printf("%ld %.3f\n", sent, Seconds(end) - Seconds(start));
    close(fd);
    return 0;
}
