#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "LoadReport.h"

namespace morven {

// One byte per target address 0 .. 0x5FFFF; erased flash reads 0xFF.
inline constexpr std::int32_t ImageSize = 0x60000;

// The image one load fills from an S-record file, and what the load did.
struct LoadedImage {
    std::vector<std::uint8_t> TargetImage = std::vector<std::uint8_t>(ImageSize, 0xFF);
    // Highest address written (0 when nothing was written; the report's length tells).
    std::int32_t MaxAddress = 0;
    LoadReport report;
};

// Fills a fresh image from S-record text; LF, CRLF and lone CR all end a line.
LoadedImage LoadSRecordText(std::string_view text);

// Fills an image line by line and keeps count of what each line did.
class SRecordLoader {
public:
    explicit SRecordLoader(LoadedImage& image);

    // Stores the data of one S1, S2 or S3 record; any other line, and any line that is short
    // or holds a non-hex character where a digit is read, is skipped whole. Lines count from 1.
    void ParseSRecordLine(std::string_view line, int lineNumber);
    // The merged ranges, N and the identity of the N bytes, once every line is parsed.
    void Finish();

private:
    void Malformed(int lineNumber);
    void Store(std::uint32_t address, const std::uint8_t* data, int count);

    LoadedImage& image_;
    std::vector<std::uint8_t> written_;  // 1 where a record stored a byte
    std::vector<AddressRange> runs_;     // what each record stored, merged by Finish()
};

// Value of the hex digit at pos (either case), or -1 when there is none.
int HexNibble(std::string_view line, std::size_t pos);

}  // namespace morven
