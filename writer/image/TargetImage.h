#pragma once

#include <cstdint>
#include <vector>

#include "LoadReport.h"

namespace morven {

// One byte per target address 0 .. 0x5FFFF; erased flash reads 0xFF.
inline constexpr std::int32_t ImageSize = 0x60000;

// The image one load fills from a firmware file, and what the load did.
struct LoadedImage {
    std::vector<std::uint8_t> TargetImage = std::vector<std::uint8_t>(ImageSize, 0xFF);
    // Highest address written (0 when nothing was written; the report's length tells).
    std::int32_t MaxAddress = 0;
    LoadReport report;
};

}  // namespace morven
