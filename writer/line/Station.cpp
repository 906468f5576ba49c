#include "Station.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include "ExitStatus.h"
#include "PortReach.h"
#include "StationPorts.h"
#include "UnitNumberStanding.h"
#include "port/SerialDevices.h"
#include "record/WriteRecord.h"
#include "serial/UnitNumberRule.h"

namespace morven {

namespace {

QByteArray KernelSha256(const WriteJob& job) {
    return QCryptographicHash::hash(job.Kernel, QCryptographicHash::Sha256).toHex();
}

QString HashMismatch(const QString& what, const QString& file, const QByteArray& found,
                     const QByteArray& approved) {
    return QStringLiteral("The ") + what + QStringLiteral(" ") + file +
           QStringLiteral(" has SHA-256 ") + QString::fromLatin1(found) +
           QStringLiteral("; the recipe approves ") + QString::fromLatin1(approved) +
           QStringLiteral(".");
}

}  // namespace

std::optional<WriteRefusal> Unreleased(const Recipe& recipe) {
    if (!recipe.release.Refused()) return std::nullopt;
    return WriteRefusal{WriteOutcome::Unapproved, recipe.release.RefusalText(recipe.path)};
}

// Every mismatch at once, so that one run tells the line all it must fix.
std::optional<WriteRefusal> Unapproved(const Recipe& recipe, const WriteJob& job) {
    // A recipe nobody released approves nothing.
    if (const auto refusal = Unreleased(recipe)) return refusal;
    QStringList mismatches;
    const QByteArray image = job.report.sha256.toHex();
    if (!recipe.imageSha256.isEmpty() && image != recipe.imageSha256)
        mismatches << HashMismatch(QStringLiteral("image (the N bytes of)"), job.fileName, image,
                                   recipe.imageSha256);
    const QByteArray kernel = KernelSha256(job);
    if (!recipe.kernelSha256.isEmpty() && kernel != recipe.kernelSha256)
        mismatches << HashMismatch(QStringLiteral("kernel file"), recipe.kernelPath, kernel,
                                   recipe.kernelSha256);
    if (mismatches.isEmpty()) return std::nullopt;
    return WriteRefusal{WriteOutcome::Unapproved,
                        mismatches.join(u' ') + QStringLiteral(" Nothing was sent.")};
}

std::unique_ptr<DatabaseUnitNumberStore> UnitNumberDatabase(const Recipe& recipe,
                                                            const QString& logPath) {
    if (!recipe.unitNumberRule || !DatabaseConnection::IsUri(recipe.unitNumberRule->statePath))
        return nullptr;
    const QString pending =
        (logPath.isEmpty() ? DefaultWriteLogPath() : logPath) + QStringLiteral(".pending-rows");
    return std::make_unique<DatabaseUnitNumberStore>(*recipe.unitNumberRule, pending);
}

std::variant<std::unique_ptr<DatabaseUnitNumberStore>, WriteRefusal> OpenUnitNumberDatabase(
    const Recipe& recipe, const QString& logPath, const std::function<bool()>& stop,
    const std::function<void(const QString&)>& tell) {
    auto database = UnitNumberDatabase(recipe, logPath);
    if (!database) return nullptr;
    if (auto refused = database->Connect(stop)) {
        if (stop()) refused->outcome = WriteOutcome::Cancelled;
        return *refused;
    }
    if (const QString said = database->UpdatePendingRows(stop); !said.isEmpty()) tell(said);
    return database;
}

IssueContext RecipeIssueContext(const Recipe& recipe, const QStringList& arguments) {
    IssueContext context = IssueContext::OfThisProcess();
    if (recipe.path.isEmpty()) {
        context.command = arguments.join(QLatin1Char(' '));
        return context;
    }
    context.recipePath = QFileInfo(recipe.path).absoluteFilePath();
    context.recipeSha256 = QCryptographicHash::hash(recipe.text, QCryptographicHash::Sha256).toHex();
    context.recipeSigner = recipe.release.signer;
    return context;
}

std::variant<std::vector<BoardImage>, WriteRefusal> BoardImages(
    const Recipe& recipe, const WriteJob& job, const QStringList& ports, UnitNumberStore& store,
    const IssueContext& context, const TakeWait& wait) {
    std::vector<BoardImage> images;
    if (!recipe.unitNumberRule) {
        for (qsizetype board = 0; board < ports.size(); ++board) images.emplace_back(job);
        return images;
    }
    const UnitNumberRule& rule = *recipe.unitNumberRule;
    if (const QString problem = CheckUnitNumberArea(rule, job); !problem.isEmpty())
        return UnitNumberRefusal(problem);
    auto taken = store.Take(rule, ports, context, wait);
    if (const auto* refusal = std::get_if<WriteRefusal>(&taken)) {
        // A take cut short by a signal is the signal's, not a database away.
        if (wait.stop && wait.stop()) return WriteRefusal{WriteOutcome::Cancelled, refusal->text};
        return *refusal;
    }
    for (const UnitNumber& value : std::get<QList<UnitNumber>>(taken))
        images.emplace_back(job, rule.address, value.bytes, value.text);
    return images;
}

StationCheck CheckStation(const Recipe& recipe, const WriteJob& job, UnitNumberStore& store,
                          const std::function<bool()>& stop) {
    StationCheck check;
    check.lines << QStringLiteral("recipe:    ") + recipe.path
                << QStringLiteral("signature: ") + recipe.release.Text()
                << QStringLiteral("kernel:    ") + recipe.kernelPath +
                       QStringLiteral(", SHA-256 ") + QString::fromLatin1(KernelSha256(job));
    const auto unapproved = Unapproved(recipe, job);
    check.lines << QStringLiteral("approved:  ") +
                       (unapproved ? QStringLiteral("no: ") + unapproved->text
                                   : QStringLiteral("the image and the kernel"));
    const auto fail = [&check](int status) {
        if (check.status == ExitOk) check.status = status;
    };
    if (unapproved) fail(OutcomeStatus(unapproved->outcome));
    const StationPorts found = FindStationPorts(recipe.ports, SystemSerialPorts);
    // A name that could mean two adapters is the recipe's fault before it is a board's.
    if (!found.problems.isEmpty())
        fail(found.noneFound ? OutcomeStatus(WriteOutcome::PortOpenFailed) : int(ExitUsage));
    for (const StationPort& port : found.ports) {
        QString line = QStringLiteral("port:      ") + port.name + QStringLiteral(" → ");
        if (!port.Present()) {
            line += QStringLiteral("absent: ") + port.absence;
            fail(OutcomeStatus(WriteOutcome::PortOpenFailed));
        } else if (port.device.network) {
            // A write would take a value for it: one it never reaches is a gap.
            const QString unreached = UnreachedPort(port.chosen->device, stop);
            line += unreached.isEmpty() ? DeviceSummary(port.device) + QStringLiteral(", answers")
                                        : QStringLiteral("not reached: ") + unreached;
            if (!unreached.isEmpty()) fail(OutcomeStatus(WriteOutcome::PortOpenFailed));
        } else {
            line += DeviceSummary(port.device);
        }
        check.lines << line;
    }
    for (const QString& problem : found.problems)
        check.lines << QStringLiteral("ports:     ") + problem;
    if (recipe.unitNumberRule) {
        const UnitNumberRule& rule = *recipe.unitNumberRule;
        const QString area = CheckUnitNumberArea(rule, job);
        const UnitNumberStanding standing =
            StandingOfValues(rule, store, quint64(recipe.ports.size()));
        if (standing.refusal) fail(OutcomeStatus(standing.refusal->outcome));
        check.lines << QStringLiteral("serial:    at 0x%1, ").arg(rule.address, 0, 16) +
                           (area.isEmpty() ? standing.text : area);
        if (!area.isEmpty()) fail(OutcomeStatus(WriteOutcome::UnitNumbersRefused));
    }
    return check;
}

}  // namespace morven
