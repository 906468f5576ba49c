// morven-cli: MORVEN's write from a terminal, a script or a production line.
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "CommandLine.h"
#include "ConsoleProgress.h"
#include "ExitStatus.h"
#include "InterruptSignals.h"
#include "KernelFile.h"
#include "PortListing.h"
#include "WriteJob.h"
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

int Interrupted() {
    const int signal = InterruptSignals::Received();
    std::fprintf(stderr, "morven-cli: interrupted by %s\n", strsignal(signal));
    return ExitSignalBase + signal;
}

bool StopRequested() { return InterruptSignals::Received() != 0; }

void PrintError(const QString& text) {
    std::fprintf(stderr, "morven-cli: %s\n", text.toLocal8Bit().constData());
}

// A refusal before anything was sent: its words on standard error, except for the outcomes
// whose text has always been the last line on standard output.
int Refuse(const WriteRefusal& refusal, const QString& kernelPath) {
    switch (refusal.outcome) {
        case WriteOutcome::Cancelled: return Interrupted();
        case WriteOutcome::KernelMissing:
            PrintError(QStringLiteral("the kernel file %1 is missing, unreadable or empty")
                           .arg(kernelPath));
            PrintOutcome(QString::fromLatin1(KernelNotFoundText));
            break;
        case WriteOutcome::KernelTooLong:
        case WriteOutcome::SRecordUnreadable: PrintOutcome(refusal.text); break;
        default: PrintError(refusal.text); break;
    }
    return ExitStatusFor(refusal.outcome);
}

std::optional<WriteRefusal> StrictRefusal(const CliOptions& options, const LoadReport& report) {
    if (!options.strict || !report.HasWarnings()) return std::nullopt;
    return WriteRefusal{WriteOutcome::WarningsRefused,
                        QStringLiteral("The S-record file %1 has warnings and --strict refuses "
                                       "it. Nothing was sent.")
                            .arg(DisplayName(options.file))};
}

void PrintWarnings(const LoadReport& report) {
    for (const QString& warning : report.Warnings()) PrintError(QStringLiteral("warning: ") + warning);
}

// --check: what the file holds and whether a write would send it.
int Check(const CliOptions& options) {
    const InterruptSignals interrupts([] {});
    auto loaded = LoadSRecordInput(options.file, StopRequested);
    if (const auto* refusal = std::get_if<WriteRefusal>(&loaded)) return Refuse(*refusal, {});
    const LoadReport& report = std::get<LoadedImage>(loaded).report;
    auto refusal = NothingToWrite(options.file, report);
    if (!refusal) refusal = StrictRefusal(options, report);
    QStringList lines{QStringLiteral("file:      ") + DisplayName(options.file)};
    lines << report.Details()
          << QStringLiteral("verdict:   ") +
                 (refusal ? QStringLiteral("refused: ") + (report.HasData()
                                                              ? QStringLiteral("warnings under --strict")
                                                              : report.NothingToWriteReason())
                          : QStringLiteral("would be written"));
    std::fputs((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLocal8Bit().constData(), stdout);
    return refusal ? ExitStatusFor(refusal->outcome) : ExitOk;
}

int Write(const CliOptions& options) {
    const QString kernelPath = options.kernelPath.isEmpty() ? KernelFilePath() : options.kernelPath;
    SerialPort port;
    if (options.port.device.isEmpty())
        port.SelectPort(options.port.number);
    else
        port.SelectDevice(options.port.device);
    SerialLink link(port);
    const InterruptSignals interrupts([&link] { link.Cancel(); });

    auto prepared = PrepareWrite(options.file, kernelPath, StopRequested);
    if (const auto* refusal = std::get_if<WriteRefusal>(&prepared))
        return Refuse(*refusal, kernelPath);
    WriteJob& job = std::get<WriteJob>(prepared);
    PrintWarnings(job.report);
    if (const auto refusal = StrictRefusal(options, job.report)) return Refuse(*refusal, kernelPath);
    PrintError(job.sRecordName + QStringLiteral(": ") + job.report.SummaryLine());

    if (!options.quiet)
        std::fprintf(stderr, "morven-cli: writing %s through %s with the kernel %s\n",
                     qPrintable(job.sRecordName), qPrintable(port.Device()), qPrintable(kernelPath));
    ConsoleProgress progress(stderr, ProgressStyle(options.quiet));
    LastMessage message;
    const WriteOutcome outcome = StopRequested() ? WriteOutcome::Cancelled
                                                 : WriteSession(link, progress, message).Run(job);
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
    return options.check ? Check(options) : Write(options);
}
