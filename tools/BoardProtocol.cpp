#include "BoardProtocol.h"

#include <charconv>

namespace {

// The boot program needs a moment to hand over to the kernel before the kernel answers.
constexpr int KernelStartMs = 20;
constexpr std::uint8_t Ack = 0x06;
constexpr std::uint8_t Nak = 0x15;
constexpr std::uint8_t Request = 0x11;
constexpr int BlockSize = 64;

std::optional<int> ParseNumber(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

std::optional<BoardFault::Phase> ParsePhase(std::string_view name, bool* indexed) {
    using Phase = BoardFault::Phase;
    struct Entry {
        std::string_view name;
        Phase phase;
        bool indexed;
    };
    static constexpr Entry entries[] = {
        {"wakeup", Phase::WakeUp, false},         {"confirm", Phase::Confirm, false},
        {"kernel-byte", Phase::KernelByte, true}, {"kernel-end", Phase::KernelEnd, false},
        {"command", Phase::Command, false},       {"block", Phase::Block, true},
        {"closing", Phase::Closing, false},
    };
    for (const Entry& entry : entries) {
        if (entry.name == name) {
            *indexed = entry.indexed;
            return entry.phase;
        }
    }
    return std::nullopt;
}

// Splits "a:b" into a and b (b empty when there is no colon).
std::pair<std::string_view, std::string_view> SplitColon(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return {text, {}};
    return {text.substr(0, colon), text.substr(colon + 1)};
}

}  // namespace

std::optional<BoardFault> ParseBoardFault(std::string_view text, std::string* error) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        *error = "a fault reads PHASE[:K]=ACTION[:ARG]";
        return std::nullopt;
    }
    BoardFault fault;
    const auto [phaseName, indexText] = SplitColon(text.substr(0, equals));
    bool indexed = false;
    const auto phase = ParsePhase(phaseName, &indexed);
    if (!phase) {
        *error = "unknown phase '" + std::string(phaseName) + "'";
        return std::nullopt;
    }
    fault.phase = *phase;
    if (indexed) {
        const auto index = ParseNumber(indexText);
        if (!index || *index < 1) {
            *error = "phase '" + std::string(phaseName) + "' needs a number from 1, as " +
                     std::string(phaseName) + ":K";
            return std::nullopt;
        }
        fault.index = *index;
    } else if (!indexText.empty()) {
        *error = "phase '" + std::string(phaseName) + "' takes no number";
        return std::nullopt;
    }

    const auto [actionName, argument] = SplitColon(text.substr(equals + 1));
    const auto value = ParseNumber(argument);
    if (actionName == "silent" && argument.empty()) {
        fault.action = BoardFault::Action::Silent;
    } else if (actionName == "drop" && argument.empty()) {
        fault.action = BoardFault::Action::Drop;
    } else if (actionName == "wrong" && value && *value <= 0xFF) {
        fault.action = BoardFault::Action::WrongByte;
        fault.wrongByte = static_cast<std::uint8_t>(*value);
    } else if (actionName == "delay" && value) {
        fault.action = BoardFault::Action::Delay;
        fault.delayMs = *value;
    } else {
        *error = "unknown action '" + std::string(text.substr(equals + 1)) +
                 "' (silent, wrong:BYTE, delay:MS or drop)";
        return std::nullopt;
    }
    return fault;
}

BoardProtocol::BoardProtocol(std::vector<BoardFault> faults) : faults_(std::move(faults)) {}

int BoardProtocol::ListeningBaud() const {
    switch (state_) {
        case State::WakeUp:
        case State::Confirm:
        case State::KernelLengthHigh:
        case State::KernelLengthLow:
        case State::KernelBody: return BootBaud;
        default: return KernelBaud;
    }
}

void BoardProtocol::Reset() {
    state_ = State::WakeUp;
    zeroCount_ = 0;
    kernelLength_ = 0;
    kernelReceived_ = 0;
    header_.clear();
    imageLength_ = 0;
    blockRemaining_ = 0;
    requests_ = 0;
    sum_ = 0;
    checksumMatched_ = false;
    image_.clear();
}

void BoardProtocol::Hangup() {
    if (state_ != State::Opening) Reset();
}

BoardAnswer BoardProtocol::Reply(BoardFault::Phase phase, int index, std::uint8_t byte,
                                 int delayMs) const {
    bool silent = false;
    BoardAnswer answer;
    for (const BoardFault& fault : faults_) {
        if (fault.phase != phase || fault.index != index) continue;
        switch (fault.action) {
            case BoardFault::Action::Silent: silent = true; break;
            case BoardFault::Action::WrongByte: byte = fault.wrongByte; break;
            case BoardFault::Action::Delay: delayMs = fault.delayMs; break;
            case BoardFault::Action::Drop: answer.dropLine = true; break;
        }
    }
    if (!silent && !answer.dropLine) answer.steps.push_back({delayMs, byte});
    return answer;
}

BoardAnswer BoardProtocol::RequestNextBlock() {
    state_ = State::BlockEcho;
    ++requests_;
    return Reply(BoardFault::Phase::Block, requests_, Request);
}

BoardAnswer BoardProtocol::Receive(std::uint8_t byte) {
    const std::uint8_t previous = previous_;
    previous_ = byte;
    switch (state_) {
        case State::WakeUp:
            zeroCount_ = byte == 0x00 ? zeroCount_ + 1 : 0;
            if (zeroCount_ < 4) return {};
            state_ = State::Confirm;
            return Reply(BoardFault::Phase::WakeUp, 0, 0x00);
        case State::Confirm:
            if (byte != 0x55) return {};  // further wake-up bytes, or noise
            state_ = State::KernelLengthHigh;
            return Reply(BoardFault::Phase::Confirm, 0, 0xAA);
        case State::KernelLengthHigh:
            kernelLength_ = byte << 8;
            state_ = State::KernelLengthLow;
            return {{{0, byte}}};
        case State::KernelLengthLow:
            kernelLength_ |= byte;
            kernelReceived_ = 0;
            state_ = kernelLength_ == 0 ? State::Opening : State::KernelBody;
            return {{{0, byte}}};
        case State::KernelBody: {
            ++kernelReceived_;
            BoardAnswer answer = Reply(BoardFault::Phase::KernelByte, kernelReceived_, byte);
            if (kernelReceived_ < kernelLength_ || answer.dropLine) return answer;
            state_ = State::Opening;
            // The echo of the last byte goes first; the kernel answers once it runs.
            const BoardAnswer end = Reply(BoardFault::Phase::KernelEnd, 0, 0xAA, KernelStartMs);
            answer.steps.insert(answer.steps.end(), end.steps.begin(), end.steps.end());
            answer.dropLine = end.dropLine;
            return answer;
        }
        case State::Opening:
            if (previous == 0xCC && byte == 0x33) state_ = State::Command;
            return {};
        case State::Command:
            if (byte == 0x50) return {};
            state_ = State::Header;
            header_.clear();
            return Reply(BoardFault::Phase::Command, 0,
                         previous == 0x50 && byte == 0x00 ? Ack : Nak);
        case State::Header:
            header_.push_back(byte);
            if (header_.size() < 8) return {};
            imageLength_ = static_cast<std::uint32_t>(header_[4] << 24 | header_[5] << 16 |
                                                      header_[6] << 8 | header_[7]);
            image_.clear();
            image_.reserve(std::min<std::uint32_t>(imageLength_, 1u << 24));
            sum_ = 0;
            requests_ = 0;
            return RequestNextBlock();
        case State::BlockEcho:
            if (byte != Request) {
                Reset();
                return {{{0, Nak}}};
            }
            if (image_.size() >= imageLength_) {
                state_ = State::Checksum;
            } else {
                blockRemaining_ = static_cast<int>(std::min<std::uint32_t>(
                    BlockSize, imageLength_ - static_cast<std::uint32_t>(image_.size())));
                state_ = State::BlockData;
            }
            return {};
        case State::BlockData:
            image_.push_back(byte);
            sum_ = static_cast<std::uint8_t>(sum_ + byte);
            if (--blockRemaining_ > 0) return {};
            return RequestNextBlock();
        case State::Checksum:
            checksumMatched_ = byte == static_cast<std::uint8_t>(~sum_);
            state_ = State::Done;
            return Reply(BoardFault::Phase::Closing, 0, checksumMatched_ ? Ack : Nak);
        case State::Done: return {};
    }
    return {};
}
