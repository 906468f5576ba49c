#include "ImageBuilder.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace morven {

ImageBuilder::ImageBuilder(LoadedImage& image) : image_(image), written_(ImageSize, 0) {}

void ImageBuilder::Store(std::uint64_t address, const std::uint8_t* data, std::size_t count) {
    LoadReport& report = image_.report;
    const auto end = static_cast<std::uint64_t>(ImageSize);
    const std::size_t stored =
        address >= end ? 0
                       : static_cast<std::size_t>(std::min<std::uint64_t>(count, end - address));
    if (stored < count) {
        if (report.droppedBytes == 0)
            report.firstDroppedAddress =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(address + stored, 0xFFFFFFFF));
        report.droppedBytes += static_cast<qint64>(count - stored);
    }
    if (stored == 0) return;
    const auto first = static_cast<std::uint32_t>(address);
    std::uint8_t* seen = &written_[first];
    if (std::memchr(seen, 1, stored) != nullptr) {
        for (std::size_t k = 0; k < stored; ++k) {
            if (!seen[k]) continue;
            if (report.overwrittenBytes == 0)
                report.firstOverwrittenAddress = first + static_cast<std::uint32_t>(k);
            ++report.overwrittenBytes;
        }
    }
    std::memset(seen, 1, stored);
    std::memcpy(&image_.TargetImage[first], data, stored);
    const std::uint32_t last = first + static_cast<std::uint32_t>(stored) - 1;
    image_.MaxAddress = std::max(image_.MaxAddress, static_cast<std::int32_t>(last));
    // Records usually follow each other: extend the last run rather than add one.
    if (!runs_.empty() && runs_.back().last + 1 == first)
        runs_.back().last = last;
    else
        runs_.push_back({first, last});
}

void ImageBuilder::Finish() {
    LoadReport& report = image_.report;
    std::sort(runs_.begin(), runs_.end(),
              [](const AddressRange& a, const AddressRange& b) { return a.first < b.first; });
    report.ranges.clear();
    for (const AddressRange& run : runs_) {
        if (!report.ranges.isEmpty() && run.first <= report.ranges.last().last + 1)
            report.ranges.last().last = std::max(report.ranges.last().last, run.last);
        else
            report.ranges << run;
    }
    report.length = runs_.empty() ? 0 : image_.MaxAddress + 1;
    const auto* bytes = image_.TargetImage.data();
    const auto size = static_cast<std::size_t>(report.length);
    // OpenSSL's digest uses the processor's SHA instructions where it has them.
    report.sha256.resize(32);
    EVP_Digest(bytes, size, reinterpret_cast<unsigned char*>(report.sha256.data()), nullptr,
               EVP_sha256(), nullptr);
    report.crc32 = static_cast<std::uint32_t>(crc32(0, bytes, static_cast<uInt>(size)));
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum += bytes[i];
    report.checksum = static_cast<std::uint8_t>(~sum);
}

}  // namespace morven
