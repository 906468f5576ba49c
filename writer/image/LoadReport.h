#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

#include "FirmwareFormat.h"

namespace morven {

// An inclusive range of target addresses the file wrote.
struct AddressRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    friend bool operator==(const AddressRange&, const AddressRange&) = default;
};

// "0x00001234": an address or value as the reports and refusals show it, in upper case.
QString Hex(std::uint64_t value, int digits = 6);

// What one load did, beside the image it filled: what the file held, what was passed over, and
// the identity of the bytes a write sends.
struct LoadReport {
    static constexpr int ListedLines = 5;  // line numbers kept per kind of problem

    FirmwareFormat format = FirmwareFormat::SRecord;
    qint64 fileBytes = 0;
    int lines = 0;
    // Well-formed records by type: S0 .. S9, or Intel HEX's 00 .. 05.
    std::array<int, 10> records{};
    QStringList layout;      // what the format adds: ELF segments, start addresses
    int malformedLines = 0;  // skipped whole: not an S-record, too short, not hex
    QList<int> firstMalformedLines;
    int badChecksums = 0;  // data records stored although their checksum is wrong
    QList<int> firstBadChecksumLines;
    qint64 droppedBytes = 0;  // at 0x60000 and above
    std::uint32_t firstDroppedAddress = 0;
    qint64 overwrittenBytes = 0;  // a later record over an earlier one
    std::uint32_t firstOverwrittenAddress = 0;
    QList<AddressRange> ranges;  // merged, ascending

    // The bytes a write sends: addresses 0 .. N-1. N is 0 when nothing was stored.
    std::int32_t length = 0;
    QByteArray sha256;          // of those N bytes
    std::uint32_t crc32 = 0;    // of those N bytes (the zip/Ethernet CRC)
    std::uint8_t checksum = 0;  // the byte the write sends after the last block

    int DataRecords() const {
        return format == FirmwareFormat::IntelHex ? records[0]
                                                  : records[1] + records[2] + records[3];
    }
    bool HasData() const { return length > 0; }
    bool HasWarnings() const {
        return malformedLines + badChecksums > 0 || droppedBytes + overwrittenBytes > 0;
    }

    // Why a file with nothing to write is refused ("" when it has data).
    QString NothingToWriteReason() const;
    // "3 ranges, N = 65536 (1024 blocks), CRC-32 0x1234ABCD, SHA-256 9f86d0…"
    QString SummaryLine() const;
    // One line per kind of problem, in words; empty for a clean file.
    QStringList Warnings() const;
    // "S0 1, S2 12288" or "00 data 4096, 01 end of file 1"
    QString RecordsText() const;
    // Everything, one item a line, for a person to read at a glance.
    QStringList Details() const;
};

}  // namespace morven
