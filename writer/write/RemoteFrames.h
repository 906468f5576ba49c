#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <iterator>
#include <optional>

#include "ProgressDisplay.h"
#include "WriteOutcome.h"
#include "port/SerialDevices.h"

namespace morven {

// The messages of a remote write on the ssh channel. The client starts
// `morven-cli --version && exec morven-cli --remote-write FORMAT`: the remote's version comes
// as one line, then frames. A frame is its type (one byte), its payload's length (four bytes,
// most significant first) and the payload, whose values are in QDataStream's Qt 6.0 encoding.
// The client sends one Request; the remote answers with Maximum and Value frames while it
// writes, and one Result. A stage and an outcome go by their codes below.
inline constexpr int RemoteFormat = 1;

// A value's code on the wire, fixed for good: a new value gets a code never used before, so that
// any two versions read each other's frames alike, wherever the value sits in its enum.
template <typename Enum>
struct RemoteCode {
    Enum value;
    qint32 code;
};

inline constexpr RemoteCode<WriteStage> RemoteStageCodes[] = {
    {WriteStage::Kernel, 0},
    {WriteStage::Image, 1},
};
static_assert(std::size(RemoteStageCodes) == size_t(WriteStage::Image) + 1,
              "every write stage needs its code on the remote channel");

inline constexpr RemoteCode<WriteOutcome> RemoteOutcomeCodes[] = {
    {WriteOutcome::Ok, 0},
    {WriteOutcome::NoAnswer, 1},
    {WriteOutcome::KernelTimedOut, 2},
    {WriteOutcome::KernelWrongAnswer, 3},
    {WriteOutcome::KernelMissing, 4},
    {WriteOutcome::FlashTimedOut, 5},
    {WriteOutcome::FlashWrongAnswer, 6},
    {WriteOutcome::KernelTooLong, 7},
    {WriteOutcome::SRecordUnreadable, 8},
    {WriteOutcome::NothingToWrite, 9},
    {WriteOutcome::FormatRefused, 10},
    {WriteOutcome::Unapproved, 11},
    {WriteOutcome::UnitNumbersRefused, 12},
    {WriteOutcome::UnitNumberStoreAway, 13},
    {WriteOutcome::WarningsRefused, 14},
    {WriteOutcome::TerminalInput, 15},
    {WriteOutcome::PortOpenFailed, 16},
    {WriteOutcome::PortFailed, 17},
    {WriteOutcome::Cancelled, 18},
    {WriteOutcome::UnitNumberStoreLoginRefused, 19},
};
// Cancelled is the last outcome: one added before it without a code stops the build here.
static_assert(std::size(RemoteOutcomeCodes) == size_t(WriteOutcome::Cancelled) + 1,
              "every write outcome needs its code on the remote channel");

struct RemoteFrame {
    enum class Type : quint8 { Request = 'W', Maximum = 'M', Value = 'V', Result = 'R' };
    Type type = Type::Request;
    QByteArray payload;

    QByteArray Encoded() const;
};

// Frames from a byte stream that may arrive split anywhere. A frame of an unknown type or
// longer than the limit breaks the stream: nothing after it is read.
class RemoteFrameReader {
public:
    // The image, the kernel and the names, with room to spare.
    static constexpr qsizetype PayloadLimit = qsizetype(2) << 20;

    void Add(QByteArrayView bytes);
    std::optional<RemoteFrame> Next();
    bool Broken() const { return broken_; }

private:
    QByteArray buffer_;
    bool broken_ = false;
};

// What the client asks: write this image with this kernel to this device.
struct RemoteRequest {
    QString device;
    QString fileName;     // as the client's user named it, for the remote's record
    QString unitNumber;   // the value the image holds, if any
    QByteArray image;     // the N bytes, as prepared for this board
    QByteArray kernel;

    RemoteFrame Frame() const;
    static std::optional<RemoteRequest> From(const RemoteFrame& frame);
};

// A progress display's calls, as frames, and shown again from them (false: not a progress
// frame, or a malformed one).
RemoteFrame MaximumFrame(WriteStage stage, int maximum);
RemoteFrame ValueFrame(int value);
bool ShowProgress(const RemoteFrame& frame, ProgressDisplay& progress);

// How the remote write ended.
struct RemoteResult {
    WriteOutcome outcome = WriteOutcome::PortFailed;
    int status = 0;
    QString text;
    double seconds = 0;
    SerialDeviceInfo device;  // as the remote system reports it

    RemoteFrame Frame() const;
    static std::optional<RemoteResult> From(const RemoteFrame& frame);
};

}  // namespace morven
