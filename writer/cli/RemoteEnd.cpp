#include "RemoteEnd.h"

#include <unistd.h>

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>

#include "image/FirmwareLoader.h"
#include "line/InterruptSignals.h"
#include "port/SerialDevices.h"
#include "port/SerialPort.h"
#include "record/WriteRecord.h"
#include "write/RemoteFrames.h"
#include "write/WriteFlow.h"

namespace morven {

namespace {

// How long the client has to send its request once the channel is open.
constexpr int RequestLimitMs = 60000;

void Say(const char* text) { std::fprintf(stderr, "morven-cli: %s\n", text); }

// Whole frames on standard output, at once: a client that went away only loses them.
void Send(const RemoteFrame& frame) {
    const QByteArray bytes = frame.Encoded();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            write(STDOUT_FILENO, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += written;
    }
}

// The write's progress as frames: each stage's maximum, and its value whenever it has moved by
// a two-hundredth of the stage or the stage is done.
class FrameProgress : public ProgressDisplay {
public:
    void SetProgressMaximum(WriteStage stage, int maximum) override {
        maximum_ = maximum;
        sent_ = -1;
        Send(MaximumFrame(stage, maximum));
    }
    void SetProgressValue(int value) override {
        if (sent_ >= 0 && value != maximum_ && value != 0 && value - sent_ < maximum_ / 200 &&
            value > sent_)
            return;
        sent_ = value;
        Send(ValueFrame(value));
    }

private:
    int maximum_ = 0;
    int sent_ = -1;
};

// The client's request, read as it arrives; nullopt when the input ended or broke first, the
// time ran out or a signal came.
std::optional<RemoteRequest> ReadRequest() {
    RemoteFrameReader frames;
    std::optional<RemoteRequest> request;
    QEventLoop loop;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &loop, [&] {
        char buffer[65536];
        const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) return;
        if (count <= 0) return loop.quit();
        frames.Add(QByteArrayView(buffer, count));
        if (const auto frame = frames.Next()) {
            request = RemoteRequest::From(*frame);
            loop.quit();
        }
        if (frames.Broken()) loop.quit();
    });
    QTimer::singleShot(RequestLimitMs, &loop, &QEventLoop::quit);
    const InterruptSignals interrupts([&loop] { loop.quit(); });
    loop.exec();
    return request;
}

bool SpeaksFormat(int format) {
    if (format == RemoteFormat) return true;
    std::fprintf(stderr, "morven-cli: this morven-cli speaks remote write format %d, not %d\n",
                 RemoteFormat, format);
    return false;
}

}  // namespace

int ServeRemoteCheck(int format, const QString& device) {
    if (!SpeaksFormat(format)) return 2;
    if (DescribeSerialDevice(device).present) return 0;
    std::fprintf(stderr, "morven-cli: no device at %s\n", qPrintable(device));
    return OutcomeStatus(WriteOutcome::PortOpenFailed);
}

int ServeRemoteWrite(int format) {
    if (!SpeaksFormat(format)) return 2;
    const std::optional<RemoteRequest> request = ReadRequest();
    if (!request) {
        Say("no remote write request arrived on standard input");
        return 2;
    }
    if (InterruptSignals::Received() != 0) InterruptSignals::DieBySignal();
    // The image as the client prepared it: raw bytes from address 0.
    const auto loaded = LoadFirmware(
        std::string_view(request->image.constData(), size_t(request->image.size())), 0);
    if (!std::holds_alternative<LoadedImage>(loaded) || request->kernel.isEmpty()) {
        Say("the remote write request holds no image or no kernel");
        return 2;
    }
    WriteJob job;
    static_cast<LoadedImage&>(job) = std::get<LoadedImage>(loaded);
    job.fileName = request->fileName;
    job.Kernel = request->kernel;
    const BoardImage image(job, 0, {}, request->unitNumber);

    SerialPort serial;
    serial.SelectDevice(request->device);
    SerialLink link(serial);
    FrameProgress progress;
    WriteLog log({}, [](const QString& warning) {
        std::fprintf(stderr, "morven-cli: warning: %s\n", qPrintable(warning));
    });
    WriteFlow flow(link, {request->device, DescribeSerialDevice(request->device)}, progress, &log);
    // The client cancels, or is gone, when its side of the channel closes.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &input, [&] {
        char buffer[4096];
        const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
        if (count > 0 || (count < 0 && errno == EINTR)) return;
        input.setEnabled(false);
        flow.Cancel(StatusSignalBase + SIGHUP, QStringLiteral("the client closed the channel"));
    });
    const InterruptSignals interrupts([&flow] {
        flow.Cancel(StatusSignalBase + InterruptSignals::Received(),
                    QStringLiteral("interrupted on the board's machine"));
    });
    const WriteResult result = RunToEnd(link, flow.Write(job, image));
    Send(RemoteResult{result.outcome, result.status, result.text, result.seconds,
                      result.board.device}
             .Frame());
    return result.status;
}

}  // namespace morven
