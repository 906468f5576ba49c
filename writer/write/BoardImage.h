#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "image/TargetImage.h"

namespace morven {

// The bytes one board receives: the job's image, shared by every board of a gang, with the
// board's own unit number patched in. Nothing is copied: a block is put together as it is sent.
class BoardImage {
public:
    explicit BoardImage(const LoadedImage& base);
    // patch lies below 0x60000 (the caller has checked).
    BoardImage(const LoadedImage& base, std::uint32_t patchAt, QByteArray patch,
               QString unitNumber);

    // N: from address 0 to the image's or the patch's last byte, whichever is higher.
    std::int32_t Length() const { return length_; }
    // Appends the bytes [from, from + count) to out.
    void AppendTo(QByteArray& out, std::int32_t from, std::int32_t count) const;
    QByteArray Sha256() const { return sha256_; }
    // The byte the write sends after the last block.
    std::uint8_t Checksum() const { return checksum_; }
    // The value patched in, as the record names it; empty without unit numbers.
    const QString& UnitNumber() const { return unitNumber_; }

private:
    const LoadedImage& base_;
    std::uint32_t patchAt_ = 0;
    QByteArray patch_;
    QString unitNumber_;
    std::int32_t length_ = 0;
    // Worked out once, when the board's value is laid in.
    QByteArray sha256_;
    std::uint8_t checksum_ = 0;
};

}  // namespace morven
