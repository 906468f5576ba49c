// morven-cli: MORVEN's write from a terminal, a script or a production line.
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryFile>
#include <cstdio>
#include <cstring>

#include "CommandLine.h"
#include "ConsoleProgress.h"
#include "ExitStatus.h"
#include "InterruptSignals.h"
#include "KernelFile.h"
#include "PortListing.h"
#include "WriteSession.h"

using namespace morven;

namespace {

// Keeps the one message a write shows; it becomes the last line on standard output.
struct LastMessage : MessageSink {
    QString text;
    void ShowMessage(const QString& message) override { text = message; }
};

void PrintOutcome(const QString& text) {
    std::printf("%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

ConsoleProgress::Style ProgressStyle(bool quiet) {
    if (quiet) return ConsoleProgress::Style::Quiet;
    return isatty(fileno(stderr)) ? ConsoleProgress::Style::Terminal
                                  : ConsoleProgress::Style::Lines;
}

// Standard input is read whole before the port is opened, into a file the write can load.
bool TakeStandardInput(QTemporaryFile& copy) {
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly) || !copy.open()) return false;
    const QByteArray text = input.readAll();
    return copy.write(text) == text.size() && copy.flush();
}

int Interrupted() {
    const int signal = InterruptSignals::Received();
    std::fprintf(stderr, "morven-cli: interrupted by %s; the port is closed\n", strsignal(signal));
    return ExitSignalBase + signal;
}

int Write(const CliOptions& options) {
    const QString kernelPath = options.kernelPath.isEmpty() ? KernelFilePath() : options.kernelPath;
    if (!KernelFilePresent(kernelPath)) {
        std::fprintf(stderr, "morven-cli: the kernel file %s is missing, unreadable or empty\n",
                     qPrintable(kernelPath));
        PrintOutcome(QString::fromLatin1(KernelNotFoundText));
        return ExitKernelProblem;
    }
    QTemporaryFile standardInput;
    SRecordPath = options.file;
    if (options.file == QStringLiteral("-")) {
        if (!TakeStandardInput(standardInput)) {
            PrintOutcome(QStringLiteral("Cannot read the S-record file from standard input."));
            return ExitSRecordUnreadable;
        }
        SRecordPath = standardInput.fileName();
    }

    SerialPort port;
    if (options.port.device.isEmpty())
        port.SelectPort(options.port.number);
    else
        port.SelectDevice(options.port.device);
    SerialLink link(port);
    const InterruptSignals interrupts([&link] { link.Cancel(); });
    if (!options.quiet)
        std::fprintf(stderr, "morven-cli: writing %s through %s with the kernel %s\n",
                     qPrintable(options.file), qPrintable(port.Device()), qPrintable(kernelPath));
    ConsoleProgress progress(stderr, ProgressStyle(options.quiet));
    LastMessage message;
    const WriteOutcome outcome = InterruptSignals::Received() != 0
                                     ? WriteOutcome::Cancelled
                                     : WriteSession(link, progress, message).Run(kernelPath);
    progress.Finish();
    if (outcome == WriteOutcome::Cancelled) return Interrupted();
    PrintOutcome(message.text);
    return ExitStatusFor(outcome);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("morven-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVEN_VERSION));
    QCommandLineParser parser;
    const auto parsed = ParseCommandLine(parser, QCoreApplication::arguments());
    if (const auto* error = std::get_if<QString>(&parsed)) {
        std::fprintf(stderr, "morven-cli: %s (see morven-cli --help)\n", qPrintable(*error));
        return ExitUsage;
    }
    const CliOptions& options = std::get<CliOptions>(parsed);
    if (options.listPorts) {
        std::fputs(PortListing().toLocal8Bit().constData(), stdout);
        return ExitOk;
    }
    return Write(options);
}
