#include "FirmwareLoader.h"

#include "ElfLoader.h"
#include "ImageBuilder.h"
#include "IntelHexLoader.h"
#include "SRecordLoader.h"

namespace morven {

namespace {

LoadedImage LoadBinary(std::string_view bytes, std::uint32_t address) {
    LoadedImage image;
    image.report.format = FirmwareFormat::Binary;
    image.report.fileBytes = static_cast<qint64>(bytes.size());
    ImageBuilder builder(image);
    builder.Store(address, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    builder.Finish();
    return image;
}

std::variant<LoadedImage, FormatRefusal> Refusable(FirmwareFormat format,
                                                   std::variant<LoadedImage, QString> loaded) {
    if (auto* reason = std::get_if<QString>(&loaded)) return FormatRefusal{format, *reason};
    return std::move(std::get<LoadedImage>(loaded));
}

}  // namespace

std::variant<LoadedImage, FormatRefusal> LoadFirmware(std::string_view bytes,
                                                      std::optional<std::uint32_t> binaryAt) {
    if (binaryAt) return LoadBinary(bytes, *binaryAt);
    switch (const FirmwareFormat format = DetectFormat(bytes)) {
        case FirmwareFormat::IntelHex: return Refusable(format, LoadIntelHexText(bytes));
        case FirmwareFormat::Elf: return Refusable(format, LoadElf(bytes));
        case FirmwareFormat::SRecord:
        case FirmwareFormat::Binary: break;
    }
    return LoadSRecordText(bytes);
}

}  // namespace morven
