#include "LoadReport.h"

namespace morven {

namespace {

constexpr int BlockSize = 64;

QString Plural(qint64 count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromLatin1(count == 1 ? one : many));
}

QString LineList(const QList<int>& first, int total) {
    QStringList numbers;
    for (const int line : first) numbers << QString::number(line);
    const QString more = total > first.size() ? QStringLiteral(", …") : QString();
    return QStringLiteral("(line%1 %2%3)")
        .arg(total == 1 ? QString() : QStringLiteral("s"), numbers.join(QStringLiteral(", ")),
             more);
}

QString RangeText(const AddressRange& range) {
    return QStringLiteral("%1-%2 (%3)")
        .arg(Hex(range.first), Hex(range.last))
        .arg(Plural(qint64(range.last) - range.first + 1, "byte", "bytes"));
}

}  // namespace

QString Hex(std::uint64_t value, int digits) {
    return QStringLiteral("0x") +
           QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper();
}

QString LoadReport::NothingToWriteReason() const {
    if (HasData()) return {};
    if (fileBytes == 0) return QStringLiteral("the file is empty");
    if (format == FirmwareFormat::Elf)
        return QStringLiteral("its loadable segments hold no file bytes");
    if (format == FirmwareFormat::IntelHex && DataRecords() == 0)
        return QStringLiteral("it holds no data record (00)");
    if (DataRecords() == 0 && format == FirmwareFormat::SRecord) {
        QString reason = QStringLiteral("it holds no S1, S2 or S3 data record");
        if (malformedLines > 0)
            reason += QStringLiteral(" (%1 not read as S-records)")
                          .arg(Plural(malformedLines, "line", "lines"));
        return reason;
    }
    if (droppedBytes > 0)
        return QStringLiteral("all its data lie at 0x60000 or above, beyond the flash");
    return QStringLiteral("its data records carry no data bytes");
}

QString LoadReport::SummaryLine() const {
    if (!HasData()) return QStringLiteral("no data to write");
    return QStringLiteral("%1, N = %2 (%3), CRC-32 %4, SHA-256 %5")
        .arg(Plural(ranges.size(), "range", "ranges"))
        .arg(length)
        .arg(Plural((length + BlockSize - 1) / BlockSize, "block", "blocks"))
        .arg(Hex(crc32, 8), QString::fromLatin1(sha256.toHex()));
}

QStringList LoadReport::Warnings() const {
    QStringList warnings;
    if (badChecksums > 0)
        warnings << QStringLiteral("%1 with a wrong checksum, stored anyway %2")
                        .arg(Plural(badChecksums, "record", "records"),
                             LineList(firstBadChecksumLines, badChecksums));
    if (malformedLines > 0)
        warnings << QStringLiteral("%1 skipped as malformed %2")
                        .arg(Plural(malformedLines, "line", "lines"),
                             LineList(firstMalformedLines, malformedLines));
    if (droppedBytes > 0)
        warnings << QStringLiteral("%1 at 0x60000 and above dropped (the first at %2)")
                        .arg(Plural(droppedBytes, "byte", "bytes"), Hex(firstDroppedAddress, 8));
    if (overwrittenBytes > 0)
        warnings << QStringLiteral(
                        "%1 written more than once, the later record wins (the first "
                        "at %2)")
                        .arg(Plural(overwrittenBytes, "byte", "bytes"),
                             Hex(firstOverwrittenAddress));
    return warnings;
}

QString LoadReport::RecordsText() const {
    static const char* const IntelHexTypes[] = {"data",  "end of file", "segment",
                                                "start", "linear",      "linear start"};
    QStringList types;
    for (int type = 0; type < int(records.size()); ++type) {
        if (records[type] == 0) continue;
        types << (format == FirmwareFormat::IntelHex
                      ? QStringLiteral("%1 %2 %3")
                            .arg(QString::number(type).rightJustified(2, QLatin1Char('0')),
                                 QString::fromLatin1(IntelHexTypes[type]),
                                 QString::number(records[type]))
                      : QStringLiteral("S%1 %2").arg(type).arg(records[type]));
    }
    return types.isEmpty() ? QStringLiteral("none") : types.join(QStringLiteral(", "));
}

QStringList LoadReport::Details() const {
    const bool text = format == FirmwareFormat::SRecord || format == FirmwareFormat::IntelHex;
    QStringList out{QStringLiteral("format:    ") + FormatName(format),
                    QStringLiteral("size:      ") + Plural(fileBytes, "byte", "bytes") +
                        (text ? QStringLiteral(", ") + Plural(lines, "line", "lines") : QString())};
    if (text) out << QStringLiteral("records:   ") + RecordsText();
    for (qsizetype i = 0; i < layout.size(); ++i)
        out << (i == 0 ? QStringLiteral("layout:    ") : QStringLiteral("           ")) + layout[i];
    if (!HasData()) return out << QStringLiteral("data:      none: ") + NothingToWriteReason();
    for (qsizetype i = 0; i < ranges.size(); ++i)
        out << (i == 0 ? QStringLiteral("ranges:    ") : QStringLiteral("           ")) +
                   RangeText(ranges[i]);
    out << QStringLiteral("N:         %1 bytes from 0x000000 (%2 of 64)")
               .arg(length)
               .arg(Plural((length + BlockSize - 1) / BlockSize, "block", "blocks"))
        << QStringLiteral("checksum:  %1 (the byte sent after the last block)")
               .arg(Hex(checksum, 2))
        << QStringLiteral("CRC-32:    %1").arg(Hex(crc32, 8))
        << QStringLiteral("SHA-256:   %1").arg(QString::fromLatin1(sha256.toHex()));
    const QStringList warnings = Warnings();
    if (warnings.isEmpty()) return out << QStringLiteral("warnings:  none");
    for (const QString& warning : warnings) out << QStringLiteral("warning:   ") + warning;
    return out;
}

}  // namespace morven
