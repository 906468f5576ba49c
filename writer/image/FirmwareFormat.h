#pragma once

#include <QString>
#include <string_view>

namespace morven {

// What a firmware file is, told from its content, never from its name.
enum class FirmwareFormat { SRecord, IntelHex, Elf, Binary };

// ELF by its magic number; Intel HEX by a first non-blank character ':'; everything else goes
// to the S-record loader, which refuses what it cannot read as having nothing to write. Raw
// binary is never detected: it is only ever asked for.
FirmwareFormat DetectFormat(std::string_view bytes);

// "S-record", "Intel HEX", "ELF", "binary"
QString FormatName(FirmwareFormat format);

}  // namespace morven
