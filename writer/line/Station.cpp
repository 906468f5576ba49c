#include "Station.h"

#include <QCryptographicHash>

#include "ExitStatus.h"
#include "PortChoice.h"
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

WriteRefusal SerialRefusal(WriteOutcome outcome, const QString& why) {
    return {outcome,
            QStringLiteral("No serial values: ") + why + QStringLiteral(". Nothing was sent.")};
}

// What is left of the rule's values, taking nothing; the status when the line cannot go on.
std::pair<QString, int> SerialStock(const SerialRule& rule, const std::function<bool()>& stop) {
    if (!DatabaseConnection::IsUri(rule.statePath)) return {SerialStateText(rule), ExitOk};
    DatabaseSerialStore database(rule, {}, stop);
    if (const auto away = database.Connect())
        return {*away, OutcomeStatus(WriteOutcome::SerialStoreAway)};
    return {database.StateText(), ExitOk};
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

std::variant<std::unique_ptr<DatabaseSerialStore>, WriteRefusal> OpenSerialDatabase(
    const Recipe& recipe, const QString& logPath, const std::function<bool()>& stop,
    const std::function<void(const QString&)>& tell) {
    if (!recipe.serial || !DatabaseConnection::IsUri(recipe.serial->statePath)) return nullptr;
    const QString pending =
        (logPath.isEmpty() ? DefaultWriteLogPath() : logPath) + QStringLiteral(".pending-rows");
    auto database = std::make_unique<DatabaseSerialStore>(*recipe.serial, pending, stop);
    if (const auto away = database->Connect())
        return stop() ? WriteRefusal{WriteOutcome::Cancelled, *away}
                      : SerialRefusal(WriteOutcome::SerialStoreAway, *away);
    if (const QString said = database->UpdatePendingRows(); !said.isEmpty()) tell(said);
    return database;
}

std::variant<std::vector<BoardImage>, WriteRefusal> BoardImages(const Recipe& recipe,
                                                                const WriteJob& job,
                                                                const IssueContext& context,
                                                                DatabaseSerialStore* database) {
    std::vector<BoardImage> images;
    if (!recipe.serial) {
        for (qsizetype board = 0; board < context.ports.size(); ++board) images.emplace_back(job);
        return images;
    }
    const SerialRule& rule = *recipe.serial;
    if (const QString problem = CheckSerialArea(rule, job); !problem.isEmpty())
        return SerialRefusal(WriteOutcome::SerialRefused, problem);
    QList<SerialValue> values;
    if (database) {
        auto taken = database->Take(context);
        if (const auto* problem = std::get_if<DatabaseSerialStore::Problem>(&taken))
            return SerialRefusal(
                problem->away ? WriteOutcome::SerialStoreAway : WriteOutcome::SerialRefused,
                problem->text);
        values = std::get<QList<SerialValue>>(taken);
    } else {
        auto taken = TakeSerialValues(rule, int(context.ports.size()));
        if (const auto* problem = std::get_if<QString>(&taken))
            return SerialRefusal(WriteOutcome::SerialRefused, *problem);
        values = std::get<QList<SerialValue>>(taken);
    }
    for (const SerialValue& value : values)
        images.emplace_back(job, rule.address, value.bytes, value.text);
    return images;
}

StationCheck CheckStation(const Recipe& recipe, const WriteJob& job,
                          const std::function<bool()>& stop) {
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
    if (const auto* error = std::get_if<QString>(&chosen)) {
        check.lines << QStringLiteral("ports:     ") + *error;
        fail(ExitUsage);
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
        const auto [stock, status] =
            area.isEmpty() ? SerialStock(rule, stop)
                           : std::pair{area, OutcomeStatus(WriteOutcome::SerialRefused)};
        check.lines << QStringLiteral("serial:    at 0x%1, ").arg(rule.address, 0, 16) + stock;
        fail(status);
    }
    return check;
}

}  // namespace morven
