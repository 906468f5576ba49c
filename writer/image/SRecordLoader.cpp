#include "TargetImage.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace morven {

namespace {

// Digit values by character code; -1 for anything that is not a hex digit.
constexpr std::array<std::int8_t, 256> HexValues = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    for (int c = '0'; c <= '9'; ++c) values[c] = static_cast<std::int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) values[c] = static_cast<std::int8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) values[c] = static_cast<std::int8_t>(c - 'a' + 10);
    return values;
}();

// Two digits at pos as one byte, or -1. The caller has checked that both are inside the line.
int HexByte(std::string_view line, std::size_t pos) {
    const int high = HexValues[static_cast<unsigned char>(line[pos])];
    const int low = HexValues[static_cast<unsigned char>(line[pos + 1])];
    return (high | low) < 0 ? -1 : (high << 4) | low;
}

bool Blank(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

void Note(QList<int>& first, int lineNumber) {
    if (first.size() < LoadReport::ListedLines) first << lineNumber;
}

}  // namespace

int HexNibble(std::string_view line, std::size_t pos) {
    return pos < line.size() ? HexValues[static_cast<unsigned char>(line[pos])] : -1;
}

SRecordLoader::SRecordLoader(LoadedImage& image) : image_(image), written_(ImageSize, 0) {}

void SRecordLoader::Malformed(int lineNumber) {
    ++image_.report.malformedLines;
    Note(image_.report.firstMalformedLines, lineNumber);
}

void SRecordLoader::ParseSRecordLine(std::string_view line, int lineNumber) {
    if (Blank(line)) return;
    // Only a line that begins with S is an S-record: an Intel HEX line (":10400000…") has a
    // digit where the type stands and would otherwise store bytes at a wrong address.
    if (line[0] != 'S' && line[0] != 's') return Malformed(lineNumber);
    const int type = HexNibble(line, 1);
    std::size_t addressDigits = 0;
    switch (type) {
        case 1: addressDigits = 4; break;
        case 2: addressDigits = 6; break;
        case 3: addressDigits = 8; break;
        default:
            // Other records are ignored; a line that is no record at all is worth a warning.
            if (type >= 0 && type <= 9 && line.size() >= 4)
                ++image_.report.records[type];
            else
                Malformed(lineNumber);
            return;
    }
    const int count = line.size() < 4 ? -1 : HexByte(line, 2);
    const std::size_t firstData = 4 + addressDigits;
    const int dataCount = count - static_cast<int>(addressDigits / 2) - 1;
    // The count covers address, data and checksum; a line shorter than that is cut off.
    if (dataCount < 0 || line.size() < 4 + 2 * static_cast<std::size_t>(count))
        return Malformed(lineNumber);

    std::uint32_t address = 0;
    for (std::size_t pos = 4; pos < firstData; ++pos) {
        const int digit = HexNibble(line, pos);
        if (digit < 0) return Malformed(lineNumber);
        address = (address << 4) | static_cast<std::uint32_t>(digit);
    }
    std::array<std::uint8_t, 255> data;
    unsigned sum = static_cast<unsigned>(count);
    for (std::size_t pos = 4; pos < firstData; pos += 2)
        sum += static_cast<unsigned>(HexByte(line, pos));
    for (int k = 0; k < dataCount; ++k) {
        const int value = HexByte(line, firstData + 2 * static_cast<std::size_t>(k));
        if (value < 0) return Malformed(lineNumber);
        data[k] = static_cast<std::uint8_t>(value);
        sum += static_cast<unsigned>(value);
    }
    ++image_.report.records[type];
    const int checksum = HexByte(line, firstData + 2 * static_cast<std::size_t>(dataCount));
    if (checksum < 0 || ((sum + static_cast<unsigned>(checksum)) & 0xFF) != 0xFF) {
        ++image_.report.badChecksums;
        Note(image_.report.firstBadChecksumLines, lineNumber);
    }
    Store(address, data.data(), dataCount);
}

// Bytes at 0x60000 and above are dropped with the rest of their record.
void SRecordLoader::Store(std::uint32_t address, const std::uint8_t* data, int count) {
    LoadReport& report = image_.report;
    const auto end = static_cast<std::uint32_t>(ImageSize);
    const int stored =
        address >= end ? 0 : static_cast<int>(std::min<std::uint32_t>(count, end - address));
    if (stored < count) {
        if (report.droppedBytes == 0) report.firstDroppedAddress = address + stored;
        report.droppedBytes += count - stored;
    }
    if (stored == 0) return;
    std::uint8_t* seen = &written_[address];
    if (std::memchr(seen, 1, static_cast<std::size_t>(stored)) != nullptr) {
        for (int k = 0; k < stored; ++k) {
            if (!seen[k]) continue;
            if (report.overwrittenBytes == 0) report.firstOverwrittenAddress = address + k;
            ++report.overwrittenBytes;
        }
    }
    std::memset(seen, 1, static_cast<std::size_t>(stored));
    std::memcpy(&image_.TargetImage[address], data, static_cast<std::size_t>(stored));
    const std::uint32_t last = address + static_cast<std::uint32_t>(stored) - 1;
    image_.MaxAddress = std::max(image_.MaxAddress, static_cast<std::int32_t>(last));
    // Records usually follow each other: extend the last run rather than add one.
    if (!runs_.empty() && runs_.back().last + 1 == address)
        runs_.back().last = last;
    else
        runs_.push_back({address, last});
}

void SRecordLoader::Finish() {
    LoadReport& report = image_.report;
    std::sort(runs_.begin(), runs_.end(),
              [](const AddressRange& a, const AddressRange& b) { return a.first < b.first; });
    report.ranges.clear();
    for (const AddressRange& run : runs_) {
        if (!report.ranges.isEmpty() && run.first <= report.ranges.last().last + 1)
            report.ranges.last().last = std::max(report.ranges.last().last, run.last);
        else
            report.ranges << run;
    }
    report.length = runs_.empty() ? 0 : image_.MaxAddress + 1;
    const auto* bytes = image_.TargetImage.data();
    const auto size = static_cast<std::size_t>(report.length);
    // OpenSSL's digest uses the processor's SHA instructions where it has them.
    report.sha256.resize(32);
    EVP_Digest(bytes, size, reinterpret_cast<unsigned char*>(report.sha256.data()), nullptr,
               EVP_sha256(), nullptr);
    report.crc32 = static_cast<std::uint32_t>(crc32(0, bytes, static_cast<uInt>(size)));
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum += bytes[i];
    report.checksum = static_cast<std::uint8_t>(~sum);
}

LoadedImage LoadSRecordText(std::string_view text) {
    LoadedImage image;
    image.report.fileBytes = static_cast<qint64>(text.size());
    SRecordLoader loader(image);
    int lineNumber = 0;
    const char* const data = text.data();
    std::size_t start = 0;
    std::size_t lfAt = 0;  // the next LF at or after start; found again only once passed
    while (start < text.size()) {
        // Lines end at LF, CRLF or a lone CR; memchr finds them far faster than a byte loop.
        if (lfAt < start || start == 0) {
            const void* lf = std::memchr(data + start, '\n', text.size() - start);
            lfAt = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : text.size();
        }
        const void* cr = std::memchr(data + start, '\r', lfAt - start);
        const std::size_t end =
            cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - data) : lfAt;
        loader.ParseSRecordLine(text.substr(start, end - start), ++lineNumber);
        const bool crlf = end + 1 < text.size() && data[end] == '\r' && data[end + 1] == '\n';
        start = end + (crlf ? 2 : 1);
    }
    image.report.lines = lineNumber;
    loader.Finish();
    return image;
}

}  // namespace morven
