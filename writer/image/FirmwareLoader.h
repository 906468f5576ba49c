#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

#include "FirmwareFormat.h"
#include "TargetImage.h"

namespace morven {

// A file refused for what it holds (a broken Intel HEX line, an ELF file cut short), with the
// format it was read as.
struct FormatRefusal {
    FirmwareFormat format;
    QString reason;
};

// Loads a firmware file's bytes as the format its content shows, or, when binaryAt is given,
// as raw bytes placed from that address. S-record files load as they always have.
std::variant<LoadedImage, FormatRefusal> LoadFirmware(std::string_view bytes,
                                                      std::optional<std::uint32_t> binaryAt);

}  // namespace morven
