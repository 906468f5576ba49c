#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
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
// writes, and one Result.
inline constexpr int RemoteFormat = 1;

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
    QString serialValue;  // the value the image holds, if any
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
