#pragma once

#include <QString>
#include <string_view>
#include <variant>

#include "TargetImage.h"

namespace morven {

// Fills a fresh image from an ELF file (32- or 64-bit, either byte order): each loadable
// segment's file bytes at its physical (load) address; the memory-only tail (.bss) is not
// written. A file without a loadable segment, a truncated file and segments that overlap each
// other are refused: the reason instead of an image. The report lists the segments.
std::variant<LoadedImage, QString> LoadElf(std::string_view bytes);

}  // namespace morven
