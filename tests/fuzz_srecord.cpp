// libFuzzer target: any bytes as S-record text must load without reading outside the input, and
// the report must agree with the image.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "image/TargetImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const morven::LoadedImage image = morven::LoadSRecordText(text);
    const morven::LoadReport& report = image.report;
    std::int64_t rangeBytes = 0;
    for (const morven::AddressRange& range : report.ranges) {
        if (range.first > range.last) __builtin_trap();
        rangeBytes += std::int64_t(range.last) - range.first + 1;
    }
    const bool hasData = !report.ranges.isEmpty();
    if (hasData != report.HasData() || report.firstMalformedLines.size() > report.malformedLines ||
        (hasData && std::int64_t(report.ranges.last().last) + 1 != report.length) ||
        rangeBytes > report.length || report.length != (hasData ? image.MaxAddress + 1 : 0) ||
        report.lines > std::int64_t(size) + 1)
        __builtin_trap();
    return 0;
}
