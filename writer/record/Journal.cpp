#include "Journal.h"

#include <syslog.h>
#include <systemd/sd-journal.h>

#include <QByteArray>
#include <QList>

#include "WriteRecord.h"

namespace morven {

void SendToJournal(const WriteRecord& record) {
    const QString unitNumber =
        record.unitNumber.isEmpty() ? QString() : QStringLiteral(", serial ") + record.unitNumber;
    const QString message = record.program + QStringLiteral(" wrote ") + record.file +
                            QStringLiteral(" to ") + record.port + QStringLiteral(" (") +
                            record.device + QStringLiteral("): ") + record.outcome +
                            QStringLiteral(" in %1 s, N = %2, SHA-256 ")
                                .arg(record.seconds, 0, 'f', 1)
                                .arg(record.length) +
                            QString::fromLatin1(record.sha256.toHex()) + unitNumber;
    const auto field = [](const char* name, const QString& value) {
        return QByteArray(name) + '=' + value.toUtf8();
    };
    QList<QByteArray> fields{
        field("MESSAGE", message),
        field("MESSAGE_ID", QString::fromLatin1(WriteEndedMessageId)),
        field("PRIORITY", QString::number(record.status == 0 ? LOG_INFO : LOG_ERR)),
        field("SYSLOG_IDENTIFIER", record.program),
        field("MORVEN_PROGRAM", record.program),
        field("MORVEN_VERSION", record.version),
        field("MORVEN_PORT", record.port),
        field("MORVEN_DEVICE", record.device),
        field("MORVEN_ADAPTER_SERIAL", record.adapterSerial),
        field("MORVEN_USB_ID", record.usbId),
        field("MORVEN_FILE", record.file),
        field("MORVEN_FORMAT", record.format),
        field("MORVEN_N", QString::number(record.length)),
        field("MORVEN_IMAGE_SHA256", QString::fromLatin1(record.sha256.toHex())),
        field("MORVEN_SERIAL_VALUE", record.unitNumber),
        field("MORVEN_SERIAL_GAP",
              record.unitNumberGap ? QStringLiteral("1") : QStringLiteral("0")),
        field("MORVEN_OUTCOME", record.outcome),
        field("MORVEN_STATUS", QString::number(record.status)),
        field("MORVEN_SECONDS", QString::number(record.seconds, 'f', 3)),
        field("MORVEN_STARTED", record.time.toUTC().toString(Qt::ISODateWithMs)),
        field("MORVEN_RECIPE_SIGNER", record.recipeSigner),
    };
    if (!record.unitNumberRow.isEmpty()) fields << field("MORVEN_SERIAL_ROW", record.unitNumberRow);
    std::vector<iovec> parts;
    for (const QByteArray& part : fields)
        parts.push_back({const_cast<char*>(part.constData()), static_cast<size_t>(part.size())});
    // No journal (a container, a machine without systemd): the call fails at once, unheard.
    sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
}

}  // namespace morven
