#include "FirmwareFormat.h"

namespace morven {

FirmwareFormat DetectFormat(std::string_view bytes) {
    if (bytes.substr(0, 4) == std::string_view("\x7f"
                                               "ELF",
                                               4))
        return FirmwareFormat::Elf;
    const std::size_t first = bytes.find_first_not_of(" \t\r\n");
    if (first != std::string_view::npos && bytes[first] == ':') return FirmwareFormat::IntelHex;
    return FirmwareFormat::SRecord;
}

QString FormatName(FirmwareFormat format) {
    switch (format) {
        case FirmwareFormat::SRecord: return QStringLiteral("S-record");
        case FirmwareFormat::IntelHex: return QStringLiteral("Intel HEX");
        case FirmwareFormat::Elf: return QStringLiteral("ELF");
        case FirmwareFormat::Binary: return QStringLiteral("binary");
    }
    return {};
}

}  // namespace morven
