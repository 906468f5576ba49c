#include "WriteCommand.h"

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <memory>
#include <optional>

#include "ConsoleOutcome.h"
#include "ConsoleProgress.h"
#include "GangTable.h"
#include "ResetHint.h"
#include "line/ExitStatus.h"
#include "line/InterruptSignals.h"
#include "line/Station.h"
#include "line/StationPorts.h"
#include "line/StationRun.h"
#include "line/StrictRefusal.h"
#include "record/WriteRecord.h"
#include "serial/UnitNumberStateFile.h"
#include "write/KernelFile.h"

namespace morven {

namespace {

ProgressBoard::Style ProgressStyle(bool quiet) {
    if (quiet) return ProgressBoard::Style::Quiet;
    return isatty(fileno(stderr)) ? ProgressBoard::Style::Terminal : ProgressBoard::Style::Lines;
}

// The ports a run writes. With a recipe each is found as the station's window finds it: an
// absent one is skipped, takes no value and is said; the others are written. The --port
// options are written all, as named. A status when none can be.
std::variant<QList<StationPort>, int> PortsToWrite(const Recipe& station) {
    if (!station.path.isEmpty()) {
        const StationPorts found = FindStationPorts(station.ports, SystemSerialPorts);
        for (const StationPort& port : found.ports)
            if (!port.Present())
                PrintError(port.name + QStringLiteral(": absent: ") + port.absence +
                           QStringLiteral("; not written, no value taken"));
        if (found.problems.isEmpty()) return found.ports;
        PrintError(found.problems.join(u' '));
        return found.noneFound ? OutcomeStatus(WriteOutcome::PortOpenFailed) : int(ExitUsage);
    }
    auto chosen = ChoosePorts(station.ports, SystemSerialPorts);
    if (const auto* problem = std::get_if<PortProblem>(&chosen)) {
        if (problem->absent) {
            PrintError(problem->text);
            return OutcomeStatus(WriteOutcome::PortOpenFailed);
        }
        PrintError(problem->text + QStringLiteral(" (see morven-cli --help)"));
        return int(ExitUsage);
    }
    const PortChoice& choice = std::get<PortChoice>(chosen);
    if (!choice.note.isEmpty()) PrintError(choice.note);
    QList<StationPort> ports;
    for (const ChosenPort& port : choice.ports) ports << StationPort{port.name, port, {}, {}};
    return ports;
}

}  // namespace

int WriteBoards(const CliOptions& options) {
    const Recipe& station = options.station;
    if (const auto refusal = Unreleased(station)) return Refuse(*refusal, {});
    const auto found = PortsToWrite(station);
    if (const int* status = std::get_if<int>(&found)) return *status;
    const QList<StationPort>& stationPorts = std::get<QList<StationPort>>(found);
    const QList<ChosenPort> ports = PresentPorts(stationPorts);

    std::optional<StationRun> run;
    const InterruptSignals interrupts([&run] {
        if (run)
            run->Cancel(StatusSignalBase + InterruptSignals::Received(),
                        QStringLiteral("interrupted"));
    });
    const QString kernelPath = station.kernelPath.isEmpty() ? KernelFilePath() : station.kernelPath;
    auto prepared = PrepareWrite(station.firmware, kernelPath, StopRequested);
    if (const auto* refusal = std::get_if<WriteRefusal>(&prepared))
        return Refuse(*refusal, kernelPath);
    WriteJob& job = std::get<WriteJob>(prepared);
    job.recipeSigner = station.release.signer;
    for (const QString& warning : job.report.Warnings())
        PrintError(QStringLiteral("warning: ") + warning);
    if (const auto refusal = StrictRefusal(station, job.report))
        return Refuse(*refusal, kernelPath);
    if (const auto refusal = Unapproved(station, job)) return Refuse(*refusal, kernelPath);
    auto opened = OpenUnitNumberDatabase(station, station.logPath, StopRequested,
                                         [](const QString& said) { PrintError(said); });
    if (const auto* refusal = std::get_if<WriteRefusal>(&opened))
        return Refuse(*refusal, kernelPath);
    const auto& database = std::get<std::unique_ptr<DatabaseUnitNumberStore>>(opened);
    // Unit numbers are taken now, for every board at once, before any port is opened.
    QStringList portNames;
    for (const ChosenPort& port : ports) portNames << port.name;
    UnitNumberStateFile files;
    auto images = BoardImages(station, job, portNames,
                              database ? static_cast<UnitNumberStore&>(*database) : files,
                              RecipeIssueContext(station, QCoreApplication::arguments()),
                              {StopRequested, [](const QString& text) { PrintError(text); }});
    if (const auto* refusal = std::get_if<WriteRefusal>(&images))
        return Refuse(*refusal, kernelPath);
    auto& boardImages = std::get<std::vector<BoardImage>>(images);
    PrintError(job.fileName + QStringLiteral(" (") + FormatName(job.report.format) +
               QStringLiteral("): ") + job.report.SummaryLine());

    std::optional<WriteLog> log;
    if (!options.noLog)
        log.emplace(station.logPath, [](const QString& warning) {
            PrintError(QStringLiteral("warning: ") + warning);
        });
    if (log && database)
        log->UpdateRowsWith(
            [&database](const WriteRecord& record) {
                return database->RecordWrite(record, StopRequested);
            });
    const bool gang = stationPorts.size() > 1;
    ProgressBoard progressBoard(stderr, ProgressStyle(options.quiet), int(ports.size()));
    qsizetype labelWidth = 0;
    for (const ChosenPort& port : ports) labelWidth = std::max(labelWidth, port.name.size());
    std::vector<std::unique_ptr<ConsoleProgress>> progress;
    std::vector<ProgressDisplay*> displays;
    for (const ChosenPort& port : ports) {
        const QString label = gang ? port.name.leftJustified(labelWidth + 2) : QString();
        const BoardImage& image = boardImages[progress.size()];
        progress.push_back(
            std::make_unique<ConsoleProgress>(progressBoard, int(progress.size()), label));
        displays.push_back(progress.back().get());
        if (!image.UnitNumber().isEmpty())
            PrintError(port.name + QStringLiteral(": serial ") + image.UnitNumber() +
                       QStringLiteral(", N = %1, checksum 0x%2, SHA-256 ")
                           .arg(image.Length())
                           .arg(image.Checksum(), 2, 16, QLatin1Char('0')) +
                       QString::fromLatin1(image.Sha256().toHex()));
    }
    if (!options.quiet) {
        QStringList devices;
        for (const ChosenPort& port : ports) devices << port.device;
        PrintError(QStringLiteral("writing %1 through %2 with the kernel %3")
                       .arg(job.fileName, devices.join(QStringLiteral(", ")), kernelPath));
    }
    run.emplace(job, ports, std::move(boardImages), displays, log ? &*log : nullptr);
    // A signal while the values were taken: each value taken is on record, a gap.
    if (StopRequested())
        run->Cancel(StatusSignalBase + InterruptSignals::Received(), QStringLiteral("interrupted"));
    // Each write is on record already, the moment it ended. A signal that came after the last
    // one ended changes nothing.
    const QList<WriteResult> results = run->Run();
    for (const QString& hint : ResetHints(results)) PrintError(hint);
    bool cancelled = false;
    for (const WriteResult& result : results) cancelled = cancelled || result.Cancelled();
    if (cancelled) Interrupted();
    if (options.json)
        for (const WriteResult& result : results)
            std::fputs(JsonLine(RecordOfWrite(job, result)).constData(), stdout);
    else if (gang)
        std::fputs(GangTable(stationPorts, results).toLocal8Bit().constData(), stdout);
    else
        PrintOutcome(results.front().text);
    std::fflush(stdout);
    if (!gang) return results.front().status;
    // A port left absent was not written either.
    if (ports.size() < stationPorts.size()) return ExitGangFailed;
    for (const WriteResult& result : results)
        if (result.outcome != WriteOutcome::Ok) return ExitGangFailed;
    return ExitOk;
}

}  // namespace morven
