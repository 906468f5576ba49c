#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A scripted misbehaviour of the target at one point of the exchange.
struct BoardFault {
    enum class Phase { WakeUp, Confirm, KernelByte, KernelEnd, Command, Block, Closing };
    enum class Action { Silent, WrongByte, Delay, Drop };
    Phase phase = Phase::WakeUp;
    int index = 0;  // 1-based, for KernelByte and Block only
    Action action = Action::Silent;
    std::uint8_t wrongByte = 0;
    int delayMs = 0;
};

// "PHASE[:K]=ACTION[:ARG]", for example "kernel-byte:5=wrong:0x13" or "closing=drop".
std::optional<BoardFault> ParseBoardFault(std::string_view text, std::string* error);

struct WireEvent {
    double seconds;  // since the simulator started
    bool fromHost;
    std::uint8_t byte;
    int baud;  // the host's line speed when the byte passed
};

// What the target does in reply to one byte: send each step's byte after its delay, then drop
// the line if asked to.
struct BoardAnswer {
    struct Step {
        int delayMs;
        std::uint8_t byte;
    };
    std::vector<Step> steps;
    bool dropLine = false;
};

// The target's state machine, free of any I/O: boot mode at 19200 baud, then the running kernel
// at 57600 baud.
class BoardProtocol {
public:
    enum class State {
        WakeUp,
        Confirm,
        KernelLengthHigh,
        KernelLengthLow,
        KernelBody,
        Opening,
        Command,
        Header,
        BlockEcho,
        BlockData,
        Checksum,
        Done
    };
    static constexpr int BootBaud = 19200;
    static constexpr int KernelBaud = 57600;
    static constexpr std::uint8_t Garble(std::uint8_t byte) {
        return static_cast<std::uint8_t>(~byte);
    }

    explicit BoardProtocol(std::vector<BoardFault> faults = {});

    // Baud rate the target listens at in its current state.
    int ListeningBaud() const;
    // One byte as the target's UART saw it; returns what the target sends back.
    BoardAnswer Receive(std::uint8_t byte);
    // The host closed the line. Only the switch from boot mode to the kernel survives it.
    void Hangup();
    void Reset();

    State CurrentState() const { return state_; }
    bool WriteFinished() const { return state_ == State::Done; }
    bool ChecksumMatched() const { return checksumMatched_; }
    const std::vector<std::uint8_t>& Image() const { return image_; }

private:
    BoardAnswer Reply(BoardFault::Phase phase, int index, std::uint8_t byte, int delayMs = 0) const;
    BoardAnswer RequestNextBlock();

    std::vector<BoardFault> faults_;
    State state_ = State::WakeUp;
    int zeroCount_ = 0;
    int kernelLength_ = 0;
    int kernelReceived_ = 0;
    std::uint8_t previous_ = 0;
    std::vector<std::uint8_t> header_;
    std::uint32_t imageLength_ = 0;
    int blockRemaining_ = 0;
    int requests_ = 0;
    std::uint8_t sum_ = 0;
    bool checksumMatched_ = false;
    std::vector<std::uint8_t> image_;
};
