#include "RemoteFrames.h"

#include <QDataStream>
#include <QIODevice>

namespace morven {

namespace {

constexpr qsizetype HeaderSize = 5;

bool KnownType(quint8 type) {
    using Type = RemoteFrame::Type;
    for (const Type known : {Type::Request, Type::Maximum, Type::Value, Type::Result})
        if (type == static_cast<quint8>(known)) return true;
    return false;
}

// Values in, a frame out.
template <typename Fill>
RemoteFrame Make(RemoteFrame::Type type, Fill fill) {
    RemoteFrame frame{type, {}};
    QDataStream out(&frame.payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    fill(out);
    return frame;
}

bool WholeAndRead(const QDataStream& in) { return in.status() == QDataStream::Ok && in.atEnd(); }

template <typename Enum, size_t N>
qint32 CodeOf(const RemoteCode<Enum> (&codes)[N], Enum value) {
    for (const RemoteCode<Enum>& known : codes)
        if (known.value == value) return known.code;
    return -1;  // not reached: the tables' static_asserts hold every value
}

template <typename Enum, size_t N>
std::optional<Enum> ValueOf(const RemoteCode<Enum> (&codes)[N], qint32 code) {
    for (const RemoteCode<Enum>& known : codes)
        if (known.code == code) return known.value;
    return std::nullopt;
}

}  // namespace

QByteArray RemoteFrame::Encoded() const {
    QByteArray bytes;
    bytes.reserve(HeaderSize + payload.size());
    bytes.append(static_cast<char>(type));
    const auto size = static_cast<quint32>(payload.size());
    for (int shift = 24; shift >= 0; shift -= 8) bytes.append(static_cast<char>(size >> shift));
    return bytes + payload;
}

void RemoteFrameReader::Add(QByteArrayView bytes) {
    if (!broken_) buffer_.append(bytes);
}

std::optional<RemoteFrame> RemoteFrameReader::Next() {
    if (broken_ || buffer_.size() < HeaderSize) return std::nullopt;
    const auto type = static_cast<quint8>(buffer_[0]);
    quint32 size = 0;
    for (int i = 1; i < HeaderSize; ++i) size = size << 8 | static_cast<quint8>(buffer_[i]);
    if (!KnownType(type) || size > quint32(PayloadLimit)) {
        broken_ = true;
        buffer_.clear();
        return std::nullopt;
    }
    if (buffer_.size() < HeaderSize + qsizetype(size)) return std::nullopt;
    RemoteFrame frame{static_cast<RemoteFrame::Type>(type), buffer_.mid(HeaderSize, size)};
    buffer_.remove(0, HeaderSize + size);
    return frame;
}

RemoteFrame RemoteRequest::Frame() const {
    return Make(RemoteFrame::Type::Request, [this](QDataStream& out) {
        out << device << fileName << unitNumber << image << kernel;
    });
}

std::optional<RemoteRequest> RemoteRequest::From(const RemoteFrame& frame) {
    if (frame.type != RemoteFrame::Type::Request) return std::nullopt;
    QDataStream in(frame.payload);
    in.setVersion(QDataStream::Qt_6_0);
    RemoteRequest request;
    in >> request.device >> request.fileName >> request.unitNumber >> request.image >>
        request.kernel;
    if (!WholeAndRead(in)) return std::nullopt;
    return request;
}

RemoteFrame MaximumFrame(WriteStage stage, int maximum) {
    return Make(RemoteFrame::Type::Maximum, [&](QDataStream& out) {
        out << static_cast<quint8>(CodeOf(RemoteStageCodes, stage)) << static_cast<qint32>(maximum);
    });
}

RemoteFrame ValueFrame(int value) {
    return Make(RemoteFrame::Type::Value,
                [&](QDataStream& out) { out << static_cast<qint32>(value); });
}

bool ShowProgress(const RemoteFrame& frame, ProgressDisplay& progress) {
    QDataStream in(frame.payload);
    in.setVersion(QDataStream::Qt_6_0);
    quint8 stageCode = 0;
    qint32 value = 0;
    if (frame.type == RemoteFrame::Type::Maximum) in >> stageCode;
    in >> value;
    const std::optional<WriteStage> stage = ValueOf(RemoteStageCodes, stageCode);
    if (!WholeAndRead(in) || !stage || value < 0) return false;
    if (frame.type == RemoteFrame::Type::Maximum)
        progress.SetProgressMaximum(*stage, value);
    else if (frame.type == RemoteFrame::Type::Value)
        progress.SetProgressValue(value);
    else
        return false;
    return true;
}

RemoteFrame RemoteResult::Frame() const {
    return Make(RemoteFrame::Type::Result, [this](QDataStream& out) {
        out << CodeOf(RemoteOutcomeCodes, outcome) << static_cast<qint32>(status) << text << seconds
            << device.device << device.present << device.byIdName << device.description
            << device.manufacturer << device.adapterSerial << device.usbId;
    });
}

std::optional<RemoteResult> RemoteResult::From(const RemoteFrame& frame) {
    if (frame.type != RemoteFrame::Type::Result) return std::nullopt;
    QDataStream in(frame.payload);
    in.setVersion(QDataStream::Qt_6_0);
    RemoteResult result;
    qint32 outcome = 0, status = 0;
    SerialDeviceInfo& device = result.device;
    in >> outcome >> status >> result.text >> result.seconds >> device.device >> device.present >>
        device.byIdName >> device.description >> device.manufacturer >> device.adapterSerial >>
        device.usbId;
    const std::optional<WriteOutcome> known = ValueOf(RemoteOutcomeCodes, outcome);
    if (!WholeAndRead(in) || !known) return std::nullopt;
    result.outcome = *known;
    result.status = status;
    return result;
}

}  // namespace morven
