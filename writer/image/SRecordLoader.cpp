#include "SRecordLoader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "TextLines.h"

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

SRecordLoader::SRecordLoader(LoadedImage& image) : image_(image), builder_(image) {}

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
    builder_.Store(address, data.data(), static_cast<std::size_t>(dataCount));
}

LoadedImage LoadSRecordText(std::string_view text) {
    LoadedImage image;
    image.report.fileBytes = static_cast<qint64>(text.size());
    SRecordLoader loader(image);
    image.report.lines = ForEachLine(text, [&loader](std::string_view line, int number) {
        loader.ParseSRecordLine(line, number);
    });
    loader.Finish();
    return image;
}

}  // namespace morven
