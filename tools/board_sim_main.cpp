// board-sim: the target's side of the boot-mode write on a pseudo-terminal, for work without
// hardware.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "BoardSimulator.h"

namespace {

constexpr const char* Usage = R"(Usage: board-sim [OPTIONS]

Plays the target board's side of a flash write on a pseudo-terminal. The first line of
output is the path of the pty slave: point the writer's port at it (MORVEN_COM1=PATH).

Boot mode, 19200 baud: after four 0x00 wake-up bytes it answers 0x00; it answers 0x55 with
0xAA; it echoes the two kernel length bytes (high, low) and every kernel byte, and sends 0xAA
20 ms after the last echo. Running kernel, 57600 baud: it takes 0xCC 0x33, answers 0x50 0x00
with 0x06 (anything else with 0x15), takes the eight header bytes (four 0x00, then the image
length N, most significant byte first), asks for every block of up to 64 bytes with 0x11 and
expects the host to echo 0x11 before the block, asks for the checksum with one more 0x11 and
answers the checksum with 0x06 when it is the ones' complement of the 8-bit sum of the N
image bytes, and with 0x15 when it is not.

The line speed is read from the host's settings of the slave; bytes sent at another speed
than the one the board listens at arrive garbled (complemented), in both directions, as on a
real UART. The host may close and reopen the slave between the two stages; a host that
closes at any other point, or goes away mid-write, leaves the board ready for the next write.

Options:
  --link PATH        make PATH a symbolic link to the slave before printing anything
                     (removed on exit); only a symbolic link already at PATH is replaced,
                     anything else there is refused and left untouched
  --pace             every byte, in either direction, takes ten bit times at the line
                     speed in force, so a write lasts as long as on a real wire
  --once             exit after one write: status 0 when its checksum matched, 1 otherwise;
                     the write begins with the host's first byte, so a host that only
                     opens and closes the line (a port test) does not end it
  --image-out FILE   write the N image bytes received to FILE once the checksum matched
  --fault PHASE=ACTION
                     misbehave at one point of the exchange (may be repeated):
                     PHASE is wakeup, confirm, kernel-byte:K (the echo of kernel byte K,
                     from 1), kernel-end (the 0xAA after the kernel), command (the answer to
                     0x50 0x00), block:K (the K-th 0x11 request, from 1; the request that
                     follows the last block and asks for the checksum is block B+1), or
                     closing (the answer to the checksum);
                     ACTION is silent (no answer), wrong:BYTE (answer BYTE instead, e.g.
                     wrong:0x15), delay:MS (answer MS milliseconds late), or drop (close the
                     line as an unplugged adapter does; a fresh pty takes its place, and
                     --link follows it)
  --help             show this text

Example: board-sim --link /tmp/board --fault block:3=delay:3100
)";

BoardSimulator* running = nullptr;

void StopOnSignal(int) {
    if (running) running->RequestStop();
}

}  // namespace

int main(int argc, char** argv) {
    BoardSimulator::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (arg == "--pace") {
            options.pace = true;
        } else if (arg == "--once") {
            options.once = true;
        } else if (arg == "--link" && hasValue) {
            options.linkPath = argv[++i];
        } else if (arg == "--image-out" && hasValue) {
            options.imageOutPath = argv[++i];
        } else if (arg == "--fault" && hasValue) {
            std::string error;
            const auto fault = ParseBoardFault(argv[++i], &error);
            if (!fault) {
                std::fprintf(stderr, "board-sim: --fault %s: %s\n", argv[i], error.c_str());
                return 2;
            }
            options.faults.push_back(*fault);
        } else {
            std::fprintf(stderr, "board-sim: unknown or incomplete option '%s' (see --help)\n",
                         argv[i]);
            return 2;
        }
    }

    BoardSimulator board(options);
    std::string error;
    if (!board.Open(&error)) {
        std::fprintf(stderr, "board-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", board.SlavePath().c_str());
    std::fflush(stdout);

    running = &board;
    std::signal(SIGINT, StopOnSignal);
    std::signal(SIGTERM, StopOnSignal);
    const bool matched = board.Serve();
    return options.once && !matched ? 1 : 0;
}
