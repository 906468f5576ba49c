#include "Station.h"

#include <QCryptographicHash>

#include "ExitStatus.h"
#include "PortChoice.h"
#include "SerialStanding.h"
#include "port/SerialDevices.h"
#include "write/Serialization.h"
#include "write/WriteRecord.h"

namespace morven {

namespace {

QByteArray KernelSha256(const WriteJob& job) {
    return QCryptographicHash::hash(job.Kernel, QCryptographicHash::Sha256).toHex();
}

WriteRefusal HashRefusal(const QString& what, const QString& file, const QByteArray& found,
                         const QByteArray& approved) {
    return {WriteOutcome::Unapproved,
            QStringLiteral("The ") + what + QStringLiteral(" ") + file +
                QStringLiteral(" has SHA-256 ") + QString::fromLatin1(found) +
                QStringLiteral("; the recipe approves ") + QString::fromLatin1(approved) +
                QStringLiteral(". Nothing was sent.")};
}

}  // namespace

std::optional<WriteRefusal> Unapproved(const Recipe& recipe, const WriteJob& job) {
    const QByteArray image = job.report.sha256.toHex();
    if (!recipe.imageSha256.isEmpty() && image != recipe.imageSha256)
        return HashRefusal(QStringLiteral("image (the N bytes of)"), job.fileName, image,
                           recipe.imageSha256);
    const QByteArray kernel = KernelSha256(job);
    if (!recipe.kernelSha256.isEmpty() && kernel != recipe.kernelSha256)
        return HashRefusal(QStringLiteral("kernel file"), recipe.kernelPath, kernel,
                           recipe.kernelSha256);
    return std::nullopt;
}

std::unique_ptr<DatabaseSerialStore> SerialDatabase(const Recipe& recipe, const QString& logPath) {
    if (!recipe.serial || !DatabaseConnection::IsUri(recipe.serial->statePath)) return nullptr;
    const QString pending =
        (logPath.isEmpty() ? DefaultWriteLogPath() : logPath) + QStringLiteral(".pending-rows");
    return std::make_unique<DatabaseSerialStore>(*recipe.serial, pending);
}

std::variant<std::unique_ptr<DatabaseSerialStore>, WriteRefusal> OpenSerialDatabase(
    const Recipe& recipe, const QString& logPath, const std::function<bool()>& stop,
    const std::function<void(const QString&)>& tell) {
    auto database = SerialDatabase(recipe, logPath);
    if (!database) return nullptr;
    if (auto refused = database->Connect(stop)) {
        if (stop()) refused->outcome = WriteOutcome::Cancelled;
        return *refused;
    }
    if (const QString said = database->UpdatePendingRows(stop); !said.isEmpty()) tell(said);
    return database;
}

std::variant<std::vector<BoardImage>, WriteRefusal> BoardImages(
    const Recipe& recipe, const WriteJob& job, const QStringList& ports, SerialStore& store,
    const IssueContext& context, const TakeWait& wait) {
    std::vector<BoardImage> images;
    if (!recipe.serial) {
        for (qsizetype board = 0; board < ports.size(); ++board) images.emplace_back(job);
        return images;
    }
    const SerialRule& rule = *recipe.serial;
    if (const QString problem = CheckSerialArea(rule, job); !problem.isEmpty())
        return SerialRefusal(problem);
    auto taken = store.Take(rule, ports, context, wait);
    if (const auto* refusal = std::get_if<WriteRefusal>(&taken)) return *refusal;
    for (const SerialValue& value : std::get<QList<SerialValue>>(taken))
        images.emplace_back(job, rule.address, value.bytes, value.text);
    return images;
}

StationCheck CheckStation(const Recipe& recipe, const WriteJob& job, SerialStore& store) {
    StationCheck check;
    check.lines << QStringLiteral("recipe:    ") + recipe.path
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
    const auto chosen = ChoosePorts(recipe.ports, SystemSerialPorts);
    if (const auto* problem = std::get_if<PortProblem>(&chosen)) {
        check.lines << QStringLiteral("ports:     ") + problem->text;
        fail(problem->absent ? OutcomeStatus(WriteOutcome::PortOpenFailed) : ExitUsage);
    } else {
        for (const ChosenPort& port : std::get<PortChoice>(chosen).ports) {
            const SerialDeviceInfo device = DescribeSerialDevice(port.device);
            check.lines << QStringLiteral("port:      ") + port.name + QStringLiteral(" → ") +
                               DeviceSummary(device);
            if (!device.network && !device.present)
                fail(OutcomeStatus(WriteOutcome::PortOpenFailed));
        }
    }
    if (recipe.serial) {
        const SerialRule& rule = *recipe.serial;
        const QString area = CheckSerialArea(rule, job);
        const SerialStanding standing = StandingOfValues(rule, store, quint64(recipe.ports.size()));
        if (standing.refusal) fail(OutcomeStatus(standing.refusal->outcome));
        check.lines << QStringLiteral("serial:    at 0x%1, ").arg(rule.address, 0, 16) +
                           (area.isEmpty() ? standing.text : area);
        if (!area.isEmpty()) fail(OutcomeStatus(WriteOutcome::SerialRefused));
    }
    return check;
}

}  // namespace morven
