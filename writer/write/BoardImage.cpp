#include "BoardImage.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace morven {

BoardImage::BoardImage(const LoadedImage& base)
    : base_(base),
      length_(base.report.length),
      sha256_(base.report.sha256),
      checksum_(base.report.checksum) {}

BoardImage::BoardImage(const LoadedImage& base, std::uint32_t patchAt, QByteArray patch,
                       QString unitNumber)
    : base_(base),
      patchAt_(patchAt),
      patch_(std::move(patch)),
      unitNumber_(std::move(unitNumber)),
      length_(std::max<std::int32_t>(base.report.length,
                                     static_cast<std::int32_t>(patchAt + patch_.size()))) {
    const auto* bytes = base_.TargetImage.data();
    const std::size_t end = patchAt_ + static_cast<std::size_t>(patch_.size());
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    EVP_DigestUpdate(context.get(), bytes, patchAt_);
    EVP_DigestUpdate(context.get(), patch_.constData(), static_cast<std::size_t>(patch_.size()));
    EVP_DigestUpdate(context.get(), bytes + end, static_cast<std::size_t>(length_) - end);
    sha256_.resize(32);
    EVP_DigestFinal_ex(context.get(), reinterpret_cast<unsigned char*>(sha256_.data()), nullptr);

    // The base's sum is in its report; past the base's N the image is erased flash (0xFF); the
    // patch replaces what lay under it.
    unsigned sum = static_cast<std::uint8_t>(~base.report.checksum) +
                   0xFFu * static_cast<unsigned>(length_ - base.report.length);
    for (qsizetype k = 0; k < patch_.size(); ++k)
        sum += static_cast<std::uint8_t>(patch_[k]) - unsigned(bytes[patchAt_ + k]);
    checksum_ = static_cast<std::uint8_t>(~sum);
}

void BoardImage::AppendTo(QByteArray& out, std::int32_t from, std::int32_t count) const {
    const qsizetype start = out.size();
    out.append(reinterpret_cast<const char*>(&base_.TargetImage[from]), count);
    // The patch's part within [from, from + count), over the base's bytes.
    const std::int64_t first = std::max<std::int64_t>(from, patchAt_);
    const std::int64_t end = std::min<std::int64_t>(from + count, patchAt_ + patch_.size());
    for (std::int64_t at = first; at < end; ++at)
        out[start + qsizetype(at - from)] = patch_[qsizetype(at - patchAt_)];
}

}  // namespace morven
