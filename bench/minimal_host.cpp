// The least a host needs to write the board: blocking POSIX I/O on termios, no event loop, no
// Qt. The reference the real programs are measured against.
// Usage: minimal_host DEVICE KERNEL_FILE IMAGE_FILE (raw bytes, written from address 0)
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void SetSpeed(int fd, speed_t speed) {
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    cfsetspeed(&settings, speed);
    tcsetattr(fd, TCSADRAIN, &settings);
}

void Send(int fd, const Bytes& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
        if (count > 0) done += static_cast<std::size_t>(count);
    }
}

// The first byte that arrives within limitMs, the rest of its burst dropped; -1 on silence.
int Receive(int fd, int limitMs) {
    pollfd poller{fd, POLLIN, 0};
    if (poll(&poller, 1, limitMs) <= 0) return -1;
    std::uint8_t buffer[256];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    tcflush(fd, TCIFLUSH);
    return count > 0 ? buffer[0] : -1;
}

bool Expect(int fd, int byte) { return Receive(fd, 3000) == byte; }

const char* Write(int fd, const Bytes& kernel, const Bytes& image) {
    Send(fd, {0, 0, 0, 0});
    if (Receive(fd, 510) < 0) return "Err 1";
    Send(fd, {0x55});
    if (Receive(fd, 500) != 0xAA) return "Err 1";
    Send(fd, {static_cast<std::uint8_t>(kernel.size() >> 8)});
    usleep(10000);
    Send(fd, {static_cast<std::uint8_t>(kernel.size())});
    usleep(10000);
    tcflush(fd, TCIFLUSH);
    for (const std::uint8_t byte : kernel) {
        Send(fd, {byte});
        if (!Expect(fd, byte)) return "Farm Err";
    }
    Receive(fd, 3000);  // the kernel's 0xAA, or nothing

    SetSpeed(fd, B57600);
    Send(fd, {0xCC, 0x33});
    usleep(200000);
    tcflush(fd, TCIFLUSH);
    Send(fd, {0x50, 0x00});
    if (!Expect(fd, 0x06)) return "S File Err ";
    const auto n = static_cast<std::uint32_t>(image.size());
    Send(fd, {0, 0, 0, 0, static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
              static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    std::uint8_t sum = 0;
    for (std::size_t at = 0; at < image.size(); at += 64) {
        if (!Expect(fd, 0x11)) return "S File Err ";
        Bytes block{0x11};
        for (std::size_t i = at; i < image.size() && i < at + 64; ++i) {
            block.push_back(image[i]);
            sum = static_cast<std::uint8_t>(sum + image[i]);
        }
        Send(fd, block);
    }
    if (!Expect(fd, 0x11)) return "S File Err ";
    Send(fd, {0x11, static_cast<std::uint8_t>(~sum)});
    return Expect(fd, 0x06) ? "O.K." : "S File Err ";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: minimal_host DEVICE KERNEL_FILE IMAGE_FILE\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    SetSpeed(fd, B19200);
    tcflush(fd, TCIFLUSH);
    const char* outcome = Write(fd, ReadFile(argv[2]), ReadFile(argv[3]));
    close(fd);
    std::printf("%s\n", outcome);
    return std::string(outcome) == "O.K." ? 0 : 1;
}
