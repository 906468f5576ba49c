#include "WriteSequence.h"

#include <algorithm>

#include "port/Bytes.h"

namespace morven {

namespace {

constexpr int WakeupIntervalMs = 10;
constexpr int WakeupIntervals = 50;
constexpr int ConfirmLimitMs = 500;
constexpr int BlockSize = 64;

constexpr quint8 Confirm = 0x55;
constexpr quint8 Confirmed = 0xAA;
constexpr quint8 Ack = 0x06;
constexpr quint8 Request = 0x11;

}  // namespace

FlashWriter::FlashWriter(SerialLink& link, ProgressDisplay& progress, const QByteArray& kernel,
                         const BoardImage& image)
    : link_(link), progress_(progress), kernel_(kernel), image_(image) {}

Task<WriteOutcome> FlashWriter::WriteSequence() {
    // Each awaited result is held before it is switched on: g++ 12 miscompiles a switch on
    // co_await.
    const Wakeup wakeup = co_await WakeTarget();
    switch (wakeup) {
        case Wakeup::NoAnswer: co_return WriteOutcome::NoAnswer;
        case Wakeup::LinkLost: co_return LinkLostOutcome();
        case Wakeup::Confirmed: break;
    }
    const StageResult kernel = co_await SendKernel();
    switch (kernel) {
        case StageResult::KernelMissing: co_return WriteOutcome::KernelMissing;
        case StageResult::TimedOut: co_return WriteOutcome::KernelTimedOut;
        case StageResult::WrongAnswer: co_return WriteOutcome::KernelWrongAnswer;
        case StageResult::LinkLost: co_return LinkLostOutcome();
        case StageResult::Success: break;
    }
    const StageResult flash = co_await SendFlashData();
    switch (flash) {
        case StageResult::TimedOut: co_return WriteOutcome::FlashTimedOut;
        case StageResult::WrongAnswer: co_return WriteOutcome::FlashWrongAnswer;
        case StageResult::LinkLost:
        case StageResult::KernelMissing: co_return LinkLostOutcome();
        case StageResult::Success: break;
    }
    co_return WriteOutcome::Ok;
}

WriteOutcome FlashWriter::LinkLostOutcome() const {
    return link_.Cancelled() ? WriteOutcome::Cancelled : WriteOutcome::PortFailed;
}

QString FlashWriter::OutcomeText(WriteOutcome outcome) const {
    switch (outcome) {
        case WriteOutcome::Ok: return QStringLiteral("O.K.");
        case WriteOutcome::NoAnswer: return QStringLiteral("Err 1");
        case WriteOutcome::KernelTimedOut: return QStringLiteral("Time Out Farm Err");
        case WriteOutcome::KernelWrongAnswer: return QStringLiteral("Farm Err");
        case WriteOutcome::KernelMissing: return QString::fromLatin1(KernelMissingText);
        case WriteOutcome::FlashTimedOut: return QStringLiteral("Time Out S File Err");
        case WriteOutcome::FlashWrongAnswer: return QStringLiteral("S File Err ");
        case WriteOutcome::PortOpenFailed: return link_.Line().OpenFailureMessage();
        case WriteOutcome::PortFailed:
            return QStringLiteral("The serial port failed during the write: ") +
                   link_.Line().FailureText();
        // Refused before the write: PrepareWrite words them with what it found.
        case WriteOutcome::KernelTooLong:
        case WriteOutcome::SRecordUnreadable:
        case WriteOutcome::NothingToWrite:
        case WriteOutcome::FormatRefused:
        case WriteOutcome::Unapproved:
        case WriteOutcome::UnitNumbersRefused:
        case WriteOutcome::UnitNumberStoreAway:
        case WriteOutcome::UnitNumberStoreLoginRefused:
        case WriteOutcome::WarningsRefused:
        case WriteOutcome::TerminalInput:
        case WriteOutcome::Cancelled: break;  // the canceller says why
    }
    return {};
}

// Four zero bytes once, then up to 51 intervals of 10 ms for any answer; then 0x55, which the
// boot program confirms with 0xAA within 500 ms.
Task<FlashWriter::Wakeup> FlashWriter::WakeTarget() {
    link_.SendBytes(QByteArray(4, '\0'));
    for (int counter = 0;;) {
        link_.ArmTimeout(WakeupIntervalMs);
        const WaitResult result = co_await link_.AwaitInput();
        if (result == WaitResult::LinkLost) co_return Wakeup::LinkLost;
        if (result == WaitResult::Ok) break;
        if (++counter > WakeupIntervals) co_return Wakeup::NoAnswer;
    }

    link_.FlushInput();  // the answer's value does not matter
    link_.SendByte(Confirm);
    link_.ArmTimeout(ConfirmLimitMs);
    const WaitResult answer = co_await link_.AwaitInput();
    switch (answer) {
        case WaitResult::LinkLost: co_return Wakeup::LinkLost;
        case WaitResult::Ok:
            co_return link_.ReadFirstByte() == Confirmed ? Wakeup::Confirmed : Wakeup::NoAnswer;
        default: co_return Wakeup::NoAnswer;
    }
}

Task<StageResult> FlashWriter::ExpectByte(quint8 expected) {
    const WaitResult result = co_await link_.WaitForByte(expected);
    switch (result) {
        case WaitResult::Mismatch: co_return StageResult::WrongAnswer;
        case WaitResult::Timeout: co_return StageResult::TimedOut;
        case WaitResult::LinkLost: co_return StageResult::LinkLost;
        case WaitResult::Ok: break;
    }
    co_return StageResult::Success;
}

Task<StageResult> FlashWriter::SendKernel() {
    const QByteArray& kernel = kernel_;
    const int length = static_cast<int>(kernel.size());
    if (length == 0) co_return StageResult::KernelMissing;

    link_.SendByte(static_cast<quint8>((length >> 8) & 0xFF));
    if (!co_await link_.Delay(10)) co_return StageResult::LinkLost;
    link_.SendByte(static_cast<quint8>(length & 0xFF));
    if (!co_await link_.Delay(10)) co_return StageResult::LinkLost;
    // The two echoes may still be on their way after the gap (a network's round trip, a USB
    // adapter's latency timer, a busy host): the discard waits for them (at most a response's
    // limit), or they would be taken for the first kernel byte's.
    link_.ArmTimeout(SerialLink::ResponseLimitMs);
    const WaitResult echoes = co_await link_.AwaitInput(2);
    if (echoes == WaitResult::LinkLost) co_return StageResult::LinkLost;
    link_.FlushInput();  // the echo of the length bytes

    progress_.SetProgressMaximum(WriteStage::Kernel, length);
    int sinceUpdate = 0;
    for (int k = 1; k <= length; ++k) {
        const auto byte = static_cast<quint8>(kernel[k - 1]);
        link_.SendByte(byte);
        const StageResult echo = co_await ExpectByte(byte);
        if (echo != StageResult::Success) co_return echo;
        if (++sinceUpdate > 10) {
            sinceUpdate = 0;
            progress_.SetProgressValue(k);
        }
    }
    progress_.SetProgressValue(length);

    // A kernel that stays silent here is accepted.
    const StageResult started = co_await ExpectByte(Confirmed);
    co_return started == StageResult::TimedOut ? StageResult::Success : started;
}

Task<StageResult> FlashWriter::SendFlashData() {
    if (!link_.ChangeLineSettings(QString::fromLatin1(Port::KernelLineSettings)))
        co_return StageResult::LinkLost;

    link_.SendBytes(Bytes({0xCC, 0x33}));
    if (!co_await link_.Delay(200)) co_return StageResult::LinkLost;
    link_.FlushInput();

    link_.SendBytes(Bytes({0x50, 0x00}));
    if (const StageResult ack = co_await ExpectByte(Ack); ack != StageResult::Success)
        co_return ack;

    const std::int32_t length = image_.Length();  // MaxAddress + 1, or the unit number's end
    QByteArray header(4, '\0');  // four zero bytes, then N, most significant byte first
    for (int shift = 24; shift >= 0; shift -= 8)
        header.append(static_cast<char>((length >> shift) & 0xFF));
    link_.SendBytes(header);

    quint8 sum = 0;
    std::int32_t i = 0;
    progress_.SetProgressMaximum(WriteStage::Image, length);
    QByteArray block;
    block.reserve(1 + BlockSize);
    while (i < length) {
        if (const StageResult request = co_await ExpectByte(Request);
            request != StageResult::Success)
            co_return request;
        // The echoed request and the block leave together: nothing is awaited between them.
        const std::int32_t count = std::min<std::int32_t>(BlockSize, length - i);
        block.resize(0);
        block.append(static_cast<char>(Request));
        image_.AppendTo(block, i, count);
        for (qsizetype k = 1; k < block.size(); ++k)
            sum = static_cast<quint8>(sum + static_cast<quint8>(block[k]));
        link_.SendBytes(block);
        i += count;
        if (i < length) progress_.SetProgressValue(i);
    }
    progress_.SetProgressValue(length);
    if (const StageResult request = co_await ExpectByte(Request); request != StageResult::Success)
        co_return request;
    link_.SendBytes(Bytes({Request, static_cast<quint8>(~sum)}));
    if (const StageResult ack = co_await ExpectByte(Ack); ack != StageResult::Success)
        co_return ack;
    progress_.SetProgressValue(0);
    co_return StageResult::Success;
}

}  // namespace morven
