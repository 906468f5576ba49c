// morven-cli: MORVEN's write from a terminal, a script or a production line.
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstring>
#include <memory>

#include "CommandLine.h"
#include "ConsoleProgress.h"
#include "ExitStatus.h"
#include "InterruptSignals.h"
#include "KernelFile.h"
#include "PortListing.h"
#include "WriteRecord.h"
#include "WriteSession.h"

using namespace morven;

namespace {

void PrintOutcome(const QString& text) {
    std::printf("%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

void PrintError(const QString& text) {
    std::fprintf(stderr, "morven-cli: %s\n", text.toLocal8Bit().constData());
}

bool StopRequested() { return InterruptSignals::Received() != 0; }

// Every port is closed by now; the process ends by the signal, as a shell expects.
[[noreturn]] void Interrupted() {
    PrintError(QStringLiteral("interrupted by %1")
                   .arg(QString::fromLocal8Bit(strsignal(InterruptSignals::Received()))));
    InterruptSignals::DieBySignal();
}

// One board of a run: the port it is on, and its write's own link, timers, progress and outcome.
struct Board : MessageSink {
    Board(ChosenPort chosen, SerialDeviceInfo device, ProgressBoard& progressBoard, int row,
          const QString& label, const WriteJob& prepared)
        : port(std::move(chosen)),
          info(std::move(device)),
          progress(progressBoard, row, label),
          job(prepared),
          session(link, progress, *this) {
        if (port.number > 0)
            serial.SelectPort(port.number);
        else
            serial.SelectDevice(port.device);
    }

    void ShowMessage(const QString& message) override {
        text = message;
        seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    }

    void Start() {
        started = QDateTime::currentDateTimeUtc();
        clock.start();
        task = std::make_unique<Task<WriteOutcome>>(session.Write(job));
        task->Start();
    }

    ChosenPort port;
    SerialDeviceInfo info;
    SerialPort serial;
    SerialLink link{serial};
    ConsoleProgress progress;
    WriteJob job;  // its own copy: the write counts MaxAddress up
    WriteSession session;
    std::unique_ptr<Task<WriteOutcome>> task;
    QDateTime started;
    QElapsedTimer clock;
    QString text;
    double seconds = 0;
};

// A refusal before anything was sent: its words on standard error, except for the outcomes
// whose text has always been the last line on standard output.
int Refuse(const WriteRefusal& refusal, const QString& kernelPath) {
    switch (refusal.outcome) {
        case WriteOutcome::Cancelled: Interrupted();
        case WriteOutcome::KernelMissing:
            PrintError(QStringLiteral("the kernel file %1 is missing, unreadable or empty")
                           .arg(kernelPath));
            if (kernelPath == KernelFilePath()) PrintError(KernelSearchText());
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

// --check: what the file holds and whether a write would send it.
int Check(const CliOptions& options) {
    const InterruptSignals interrupts([] {});
    auto loaded = LoadSRecordInput(options.file, StopRequested);
    if (const auto* refusal = std::get_if<WriteRefusal>(&loaded)) return Refuse(*refusal, {});
    const LoadReport& report = std::get<LoadedImage>(loaded).report;
    auto refusal = NothingToWrite(options.file, report);
    if (!refusal) refusal = StrictRefusal(options, report);
    const QString verdict = !refusal ? QStringLiteral("would be written")
                            : report.HasData()
                                ? QStringLiteral("refused: warnings under --strict")
                                : QStringLiteral("refused: ") + report.NothingToWriteReason();
    QStringList lines{QStringLiteral("file:      ") + DisplayName(options.file)};
    lines << report.Details() << QStringLiteral("verdict:   ") + verdict;
    std::fputs((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLocal8Bit().constData(),
               stdout);
    return refusal ? ExitStatusFor(refusal->outcome) : ExitOk;
}

ProgressBoard::Style ProgressStyle(bool quiet) {
    if (quiet) return ProgressBoard::Style::Quiet;
    return isatty(fileno(stderr)) ? ProgressBoard::Style::Terminal : ProgressBoard::Style::Lines;
}

QString OutcomeOf(const Board& board) {
    return board.text.isEmpty() ? QStringLiteral("interrupted") : board.text;
}

int StatusOf(const Board& board) {
    return board.text.isEmpty() ? ExitSignalBase + InterruptSignals::Received()
                                : ExitStatusFor(board.task->Result());
}

// One row per port, in the order given.
void PrintTable(const std::vector<std::unique_ptr<Board>>& boards) {
    const QString row = QStringLiteral("%1  %2  %3  %4  %5\n");
    int portWidth = 4, deviceWidth = 6, serialWidth = 7, outcomeWidth = 7;
    for (const auto& board : boards) {
        portWidth = std::max(portWidth, int(board->port.name.size()));
        deviceWidth = std::max(deviceWidth, int(board->port.device.size()));
        serialWidth = std::max(serialWidth, int(board->info.serialNumber.size()));
        outcomeWidth = std::max(outcomeWidth, int(OutcomeOf(*board).size()));
    }
    QString table = row.arg(QStringLiteral("port"), -portWidth)
                        .arg(QStringLiteral("device"), -deviceWidth)
                        .arg(QStringLiteral("adapter"), -serialWidth)
                        .arg(QStringLiteral("outcome"), -outcomeWidth)
                        .arg(QStringLiteral("seconds"));
    for (const auto& board : boards)
        table += row.arg(board->port.name, -portWidth)
                     .arg(board->port.device, -deviceWidth)
                     .arg(board->info.serialNumber.isEmpty() ? QStringLiteral("-")
                                                             : board->info.serialNumber,
                          -serialWidth)
                     .arg(OutcomeOf(*board), -outcomeWidth)
                     .arg(board->seconds, 7, 'f', 2);
    std::fputs(table.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

// Each write's record, one line each; a log that cannot be written is said once.
void RecordWrites(const CliOptions& options, const std::vector<std::unique_ptr<Board>>& boards,
                  QList<QByteArray>& lines) {
    const QString path = options.logPath.isEmpty() ? DefaultWriteLogPath() : options.logPath;
    bool logging = !options.noLog;
    for (const auto& board : boards) {
        lines << JsonLine(RecordOfWrite(board->job, board->port.name, board->info, board->started,
                                        OutcomeOf(*board), StatusOf(*board), board->seconds));
        QString error;
        if (logging && !AppendToWriteLog(path, lines.last(), &error)) {
            PrintError(QStringLiteral("warning: the write log %1 cannot be written (%2); the "
                                      "writes go on unrecorded")
                           .arg(path, error));
            logging = false;
        }
    }
}

int Write(const CliOptions& options) {
    auto chosen = ChoosePorts(options.ports, SystemSerialPorts);
    if (const auto* error = std::get_if<QString>(&chosen)) {
        PrintError(*error + QStringLiteral(" (see morven-cli --help)"));
        return ExitUsage;
    }
    const PortChoice& choice = std::get<PortChoice>(chosen);
    if (!choice.note.isEmpty()) PrintError(choice.note);

    std::vector<std::unique_ptr<Board>> boards;
    const InterruptSignals interrupts([&boards] {
        for (const auto& board : boards) board->link.Cancel();
    });
    const QString kernelPath = options.kernelPath.isEmpty() ? KernelFilePath() : options.kernelPath;
    auto prepared = PrepareWrite(options.file, kernelPath, StopRequested);
    if (const auto* refusal = std::get_if<WriteRefusal>(&prepared))
        return Refuse(*refusal, kernelPath);
    const WriteJob& job = std::get<WriteJob>(prepared);
    for (const QString& warning : job.report.Warnings())
        PrintError(QStringLiteral("warning: ") + warning);
    if (const auto refusal = StrictRefusal(options, job.report))
        return Refuse(*refusal, kernelPath);
    PrintError(job.sRecordName + QStringLiteral(": ") + job.report.SummaryLine());

    const bool gang = choice.ports.size() > 1;
    ProgressBoard progress(stderr, ProgressStyle(options.quiet), int(choice.ports.size()));
    qsizetype labelWidth = 0;
    for (const ChosenPort& port : choice.ports) labelWidth = std::max(labelWidth, port.name.size());
    for (const ChosenPort& port : choice.ports) {
        const QString label = gang ? port.name.leftJustified(labelWidth + 2) : QString();
        boards.push_back(std::make_unique<Board>(port, DescribeSerialDevice(port.device), progress,
                                                 int(boards.size()), label, job));
    }
    if (!options.quiet) {
        QStringList devices;
        for (const ChosenPort& port : choice.ports) devices << port.device;
        PrintError(QStringLiteral("writing %1 through %2 with the kernel %3")
                       .arg(job.sRecordName, devices.join(QStringLiteral(", ")), kernelPath));
    }
    if (StopRequested()) Interrupted();
    std::vector<SerialLink*> links;
    for (const auto& board : boards) {
        board->Start();
        links.push_back(&board->link);
    }
    DriveLinks(links);

    QList<QByteArray> records;
    RecordWrites(options, boards, records);
    if (StopRequested()) Interrupted();
    if (options.json)
        for (const QByteArray& record : records) std::fputs(record.constData(), stdout);
    else if (gang)
        PrintTable(boards);
    else
        PrintOutcome(boards.front()->text);
    std::fflush(stdout);
    if (!gang) return StatusOf(*boards.front());
    for (const auto& board : boards)
        if (board->task->Result() != WriteOutcome::Ok) return ExitGangFailed;
    return ExitOk;
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
        std::fputs(PortListing(options.json).toLocal8Bit().constData(), stdout);
        return ExitOk;
    }
    return options.check ? Check(options) : Write(options);
}
