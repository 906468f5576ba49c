#include "CheckCommand.h"

#include <cstdio>
#include <memory>

#include "CheckVerdict.h"
#include "ConsoleOutcome.h"
#include "line/ExitStatus.h"
#include "line/InterruptSignals.h"
#include "line/Station.h"
#include "line/StrictRefusal.h"
#include "serial/UnitNumberStateFile.h"

namespace morven {

namespace {

// A check's report, one line each, on standard output.
void PrintReport(const QStringList& lines) {
    std::fputs((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLocal8Bit().constData(),
               stdout);
}

}  // namespace

int CheckFile(const CliOptions& options) {
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
    PrintReport(lines);
    return refusal ? OutcomeStatus(refusal->outcome) : ExitOk;
}

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
    PrintReport(lines);
    return status;
}

}  // namespace morven
