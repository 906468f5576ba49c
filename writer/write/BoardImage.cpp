#include "BoardImage.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace morven {

BoardImage::BoardImage(const LoadedImage& base) : base_(base), length_(base.report.length) {}

BoardImage::BoardImage(const LoadedImage& base, std::uint32_t patchAt, QByteArray patch,
                       QString serialValue)
    : base_(base),
      patchAt_(patchAt),
      patch_(std::move(patch)),
      serialValue_(std::move(serialValue)),
      length_(std::max<std::int32_t>(base.report.length,
                                     static_cast<std::int32_t>(patchAt + patch_.size()))) {}

void BoardImage::AppendTo(QByteArray& out, std::int32_t from, std::int32_t count) const {
    const qsizetype start = out.size();
    out.append(reinterpret_cast<const char*>(&base_.TargetImage[from]), count);
    // The patch's part within [from, from + count), over the base's bytes.
    const std::int64_t first = std::max<std::int64_t>(from, patchAt_);
    const std::int64_t end = std::min<std::int64_t>(from + count, patchAt_ + patch_.size());
    for (std::int64_t at = first; at < end; ++at)
        out[start + qsizetype(at - from)] = patch_[qsizetype(at - patchAt_)];
}

QByteArray BoardImage::Sha256() const {
    if (patch_.isEmpty()) return base_.report.sha256;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    const auto* bytes = base_.TargetImage.data();
    EVP_DigestUpdate(context.get(), bytes, patchAt_);
    EVP_DigestUpdate(context.get(), patch_.constData(), static_cast<std::size_t>(patch_.size()));
    const std::size_t after = patchAt_ + static_cast<std::size_t>(patch_.size());
    EVP_DigestUpdate(context.get(), bytes + after, static_cast<std::size_t>(length_) - after);
    QByteArray digest(32, '\0');
    EVP_DigestFinal_ex(context.get(), reinterpret_cast<unsigned char*>(digest.data()), nullptr);
    return digest;
}

std::uint8_t BoardImage::Checksum() const {
    if (patch_.isEmpty()) return base_.report.checksum;
    unsigned sum = 0;
    const auto* bytes = base_.TargetImage.data();
    for (std::int32_t i = 0; i < length_; ++i) {
        const bool patched =
            i >= std::int32_t(patchAt_) && i < std::int32_t(patchAt_ + patch_.size());
        sum += patched ? static_cast<std::uint8_t>(patch_[qsizetype(i) - patchAt_]) : bytes[i];
    }
    return static_cast<std::uint8_t>(~sum);
}

}  // namespace morven
