// libFuzzer target: any bytes, read as each format, must load or be refused without reading
// outside the input, and a loaded image's report must agree with the image. The first byte
// picks the loader: detected from the content, S-record, Intel HEX or ELF.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "image/ElfLoader.h"
#include "image/FirmwareLoader.h"
#include "image/IntelHexLoader.h"
#include "image/SRecordLoader.h"

namespace {

void CheckReport(const morven::LoadedImage& image, std::size_t size) {
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
        report.lines > std::int64_t(size) + 1 || report.length > morven::ImageSize)
        __builtin_trap();
}

template <typename Loaded>
void Check(const Loaded& loaded, std::size_t size) {
    if (const auto* image = std::get_if<morven::LoadedImage>(&loaded)) CheckReport(*image, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
        case 0: Check(morven::LoadFirmware(bytes, std::nullopt), bytes.size()); break;
        case 1: CheckReport(morven::LoadSRecordText(bytes), bytes.size()); break;
        case 2: Check(morven::LoadIntelHexText(bytes), bytes.size()); break;
        case 3: Check(morven::LoadElf(bytes), bytes.size()); break;
    }
    return 0;
}
