#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "TargetImage.h"

namespace morven {

// Fills an image with what a file places at its addresses, whatever the file's format, and
// keeps count in the image's report: what was dropped beyond the flash, what was written twice,
// the ranges written, and at the end N and the identity of the N bytes.
class ImageBuilder {
public:
    explicit ImageBuilder(LoadedImage& image);

    // Bytes at 0x60000 and above are dropped, with the rest of the run they start.
    void Store(std::uint64_t address, const std::uint8_t* data, std::size_t count);
    // The merged ranges, N and the identity of the N bytes, once everything is stored.
    void Finish();

private:
    LoadedImage& image_;
    std::vector<std::uint8_t> written_;  // 1 where a byte was stored
    std::vector<AddressRange> runs_;     // what each store wrote, merged by Finish()
};

}  // namespace morven
