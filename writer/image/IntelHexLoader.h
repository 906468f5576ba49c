#pragma once

#include <QString>
#include <string_view>
#include <variant>

#include "TargetImage.h"

namespace morven {

// Fills a fresh image from Intel HEX text: data (00), end of file (01), extended segment (02) and
// extended linear (04) addresses; the start addresses (03, 05) are named in the report, not
// written. Toolchains write these files exactly, so a malformed line, a wrong checksum, an
// unknown record type, anything after the end-of-file record or a file without one refuses
// the whole file: the reason, with its line, instead of an image.
std::variant<LoadedImage, QString> LoadIntelHexText(std::string_view text);

}  // namespace morven
