#include "TargetImage.h"

#include <QFile>
#include <QString>
#include <algorithm>

namespace morven {

std::array<std::uint8_t, ImageSize> TargetImage;
std::int32_t MaxAddress = 0;

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

void ResetImage() {
    MaxAddress = 0;
    TargetImage.fill(0xFF);
}

}  // namespace

int HexNibble(std::string_view line, std::size_t pos) {
    return pos < line.size() ? HexValues[static_cast<unsigned char>(line[pos])] : -1;
}

void ParseSRecordLine(std::string_view line) {
    if (line.size() < 4) return;
    std::size_t addressDigits = 0;
    switch (HexNibble(line, 1)) {
        case 1: addressDigits = 4; break;
        case 2: addressDigits = 6; break;
        case 3: addressDigits = 8; break;
        default: return;
    }
    const int count = HexByte(line, 2);
    if (count < 0) return;
    const std::size_t firstData = 4 + addressDigits;
    // The count covers address, data and checksum; a line shorter than that is cut off.
    if (line.size() < firstData || line.size() < 4 + 2 * static_cast<std::size_t>(count)) return;

    std::uint32_t address = 0;
    for (std::size_t pos = 4; pos < firstData; ++pos) {
        const int digit = HexNibble(line, pos);
        if (digit < 0) return;
        address = (address << 4) | static_cast<std::uint32_t>(digit);
    }

    const int dataCount = count - static_cast<int>(addressDigits / 2) - 1;
    std::array<std::uint8_t, 255> data;
    for (int k = 0; k < dataCount; ++k) {
        const int value = HexByte(line, firstData + 2 * static_cast<std::size_t>(k));
        if (value < 0) return;
        data[k] = static_cast<std::uint8_t>(value);
    }
    for (int k = 0; k < dataCount && address < static_cast<std::uint32_t>(ImageSize); ++k) {
        TargetImage[address] = data[k];
        MaxAddress = std::max(MaxAddress, static_cast<std::int32_t>(address));
        ++address;
    }
}

void LoadSRecordText(std::string_view text) {
    ResetImage();
    std::size_t start = 0;
    for (std::size_t pos = 0; pos <= text.size(); ++pos) {
        if (pos < text.size() && text[pos] != '\n' && text[pos] != '\r') continue;
        if (pos > start) ParseSRecordLine(text.substr(start, pos - start));
        start = pos + 1;
    }
}

bool LoadSRecordFile(const QString& path) {
    ResetImage();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) return false;
    LoadSRecordText(
        std::string_view(content.constData(), static_cast<std::size_t>(content.size())));
    return true;
}

}  // namespace morven
