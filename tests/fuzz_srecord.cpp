// libFuzzer target: any bytes as S-record text must load without reading outside the input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "TargetImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    morven::LoadSRecordText(text);
    morven::ParseSRecordLine(text);
    return 0;
}
