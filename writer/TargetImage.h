#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

class QString;

namespace morven {

// One byte per target address 0 .. 0x5FFFF; erased flash reads 0xFF.
inline constexpr std::int32_t ImageSize = 0x60000;

extern std::array<std::uint8_t, ImageSize> TargetImage;
// Highest address written by the last load (0 when nothing was written).
extern std::int32_t MaxAddress;

// Resets the image, then fills it from the S-record file. Returns false when the file
// cannot be opened or read (the image is then left erased).
bool LoadSRecordFile(const QString& path);

// Resets the image, then fills it from S-record text; LF, CRLF and lone CR all end a line.
void LoadSRecordText(std::string_view text);

// Stores the data of one S1, S2 or S3 record; any other line, and any line that is short
// or holds a non-hex character where a digit is read, is skipped whole.
void ParseSRecordLine(std::string_view line);

// Value of the hex digit at pos (either case), or -1 when there is none.
int HexNibble(std::string_view line, std::size_t pos);

}  // namespace morven
