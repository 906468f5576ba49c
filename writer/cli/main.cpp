// morven-cli: MORVEN's write from a terminal, a script or a production line.
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "CheckVerdict.h"
#include "CommandLine.h"
#include "ConsoleProgress.h"
#include "GangTable.h"
#include "PortListing.h"
#include "RemoteEnd.h"
#include "ResetHint.h"
#include "line/ExitStatus.h"
#include "line/InterruptSignals.h"
#include "line/Station.h"
#include "line/StationPorts.h"
#include "line/StationRun.h"
#include "line/StrictRefusal.h"
#include "record/WriteRecord.h"
#include "serial/DatabaseLead.h"
#include "serial/UnitNumberStateFile.h"
#include "write/KernelFile.h"

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
    PrintError(QStringLiteral("interrupted by SIG%1")
                   .arg(QString::fromLatin1(sigabbrev_np(InterruptSignals::Received()))));
    InterruptSignals::DieBySignal();
}

// A refusal before anything was sent: its words on standard error, except for the outcomes
// whose text has always been the last line on standard output.
int Refuse(const WriteRefusal& refusal, const QString& kernelPath) {
    switch (refusal.outcome) {
        case WriteOutcome::Cancelled: Interrupted();
        case WriteOutcome::KernelMissing:
            PrintError(RefusalReason(refusal, kernelPath));
            if (kernelPath == KernelFilePath()) PrintError(KernelSearchText());
            PrintOutcome(QString::fromLatin1(KernelNotFoundText));
            break;
        case WriteOutcome::KernelTooLong:
        case WriteOutcome::SRecordUnreadable: PrintOutcome(refusal.text); break;
        default: PrintError(refusal.text); break;
    }
    // Raw binary is never told by its content: it reads as an S-record file without records.
    if (refusal.outcome == WriteOutcome::NothingToWrite &&
        refusal.text.contains(QStringLiteral("no S1, S2 or S3 data record")))
        PrintError(QStringLiteral(
            "hint: a raw binary file needs --binary-at ADDR, the address of its first byte"));
    return OutcomeStatus(refusal.outcome);
}

// --check: what the file holds and whether a write would send it.
int Check(const CliOptions& options) {
    const InterruptSignals interrupts([] {});
    const Recipe& station = options.station;
    auto loaded = LoadFirmwareInput(station.firmware, StopRequested);
    if (const auto* refusal = std::get_if<WriteRefusal>(&loaded)) {
        // Stopped, or a terminal for standard input: no file to give a verdict on.
        if (refusal->reason.isEmpty()) return Refuse(*refusal, {});
        // A file never read has no format yet; one its format refuses names it.
        if (refusal->outcome != WriteOutcome::SRecordUnreadable) PrintError(refusal->text);
        // Every refusal ends with the verdict, for a script that reads it.
        PrintOutcome(VerdictOnly(DisplayName(station.firmware.path),
                                 QStringLiteral("refused: ") + RefusalReason(*refusal, {})));
        return OutcomeStatus(refusal->outcome);
    }
    const LoadReport& report = std::get<LoadedImage>(loaded).report;
    auto refusal = NothingToWrite(station.firmware.path, report);
    if (!refusal) refusal = StrictRefusal(station, report);
    const QString verdict = !refusal ? QStringLiteral("would be written")
                            : report.HasData()
                                ? QStringLiteral("refused: warnings under --strict")
                                : QStringLiteral("refused: ") + report.NothingToWriteReason();
    QStringList lines{QStringLiteral("file:      ") + DisplayName(station.firmware.path)};
    lines << report.Details() << QStringLiteral("verdict:   ") + verdict;
    std::fputs((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLocal8Bit().constData(),
               stdout);
    return refusal ? OutcomeStatus(refusal->outcome) : ExitOk;
}

// --check --recipe: whether the station is ready to write: the file's report, the approval of
// the image and the kernel, the ports and the unit numbers left.
int CheckRecipe(const Recipe& recipe) {
    const InterruptSignals interrupts([] {});
    // Nothing a recipe nobody released names is looked at.
    if (Unreleased(recipe)) {
        PrintOutcome(QStringLiteral("recipe:    ") + recipe.path + QStringLiteral("\nsignature: ") +
                     recipe.release.Text() + QStringLiteral("\nverdict:   not ready"));
        return OutcomeStatus(WriteOutcome::Unapproved);
    }
    auto prepared = PrepareWrite(recipe.firmware, recipe.kernelPath, StopRequested);
    if (const auto* refusal = std::get_if<WriteRefusal>(&prepared)) {
        const int status = Refuse(*refusal, recipe.kernelPath);
        if (status != ExitUsage)
            PrintOutcome(VerdictOnly(DisplayName(recipe.firmware.path),
                                     QStringLiteral("not ready: ") +
                                         RefusalReason(*refusal, recipe.kernelPath)));
        return status;
    }
    const WriteJob& job = std::get<WriteJob>(prepared);
    UnitNumberStateFile files;
    std::unique_ptr<DatabaseUnitNumberStore> database;
    if (recipe.unitNumberRule && DatabaseConnection::IsUri(recipe.unitNumberRule->statePath)) {
        database = std::make_unique<DatabaseUnitNumberStore>(*recipe.unitNumberRule, QString());
        database->StopStockWith(StopRequested);
    }
    const StationCheck station = CheckStation(
        recipe, job, database ? static_cast<UnitNumberStore&>(*database) : files, StopRequested);
    if (StopRequested()) Interrupted();
    const auto strict = StrictRefusal(recipe, job.report);
    const int status = station.status != ExitOk ? station.status
                       : strict                 ? OutcomeStatus(strict->outcome)
                                                : ExitOk;
    QStringList lines{QStringLiteral("file:      ") + job.fileName};
    lines << job.report.Details() << station.lines
          << QStringLiteral("verdict:   ") +
                 (status == ExitOk ? QStringLiteral("ready")
                  : strict         ? QStringLiteral("not ready: warnings, and the recipe is strict")
                                   : QStringLiteral("not ready"));
    std::fputs((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLocal8Bit().constData(),
               stdout);
    return status;
}

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

// --serial-make-counter and --serial-load-list: the line's lead's work in its database.
int Lead(const CliOptions& options) {
    const InterruptSignals interrupts([] {});
    const auto done =
        options.makeCounter
            ? MakeCounter(*options.station.unitNumberRule, StopRequested)
            : LoadList(options.loadInto, options.loadList, options.loadFormat, StopRequested);
    if (StopRequested()) Interrupted();
    if (const auto* refusal = std::get_if<WriteRefusal>(&done)) {
        PrintError(refusal->text);
        return OutcomeStatus(refusal->outcome);
    }
    PrintOutcome(std::get<QString>(done));
    return ExitOk;
}

int Write(const CliOptions& options) {
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
    if (options.remoteFormat > 0)
        return options.check
                   ? ServeRemoteCheck(options.remoteFormat, options.station.ports.value(0))
                   : ServeRemoteWrite(options.remoteFormat);
    if (options.listPorts) {
        std::fputs(PortListing(options.json).toLocal8Bit().constData(), stdout);
        return ExitOk;
    }
    if (options.makeCounter || !options.loadList.isEmpty()) return Lead(options);
    if (!options.check) return Write(options);
    return options.station.path.isEmpty() ? Check(options) : CheckRecipe(options.station);
}
