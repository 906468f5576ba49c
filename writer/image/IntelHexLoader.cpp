#include "IntelHexLoader.h"

#include <array>
#include <optional>

#include "ImageBuilder.h"
#include "SRecordLoader.h"
#include "TextLines.h"

namespace morven {

namespace {

enum RecordType { Data = 0, EndOfFile = 1, Segment = 2, SegmentStart = 3, Linear = 4, Start = 5 };

// One line's bytes (count, address, type, data, checksum) into bytes, and their number; an
// empty text, or why the line is not a record. No text is made for a good line.
QString RecordBytes(std::string_view line, std::array<std::uint8_t, 261>& bytes, int* size) {
    if (line.empty() || line[0] != ':') return QStringLiteral("it does not begin with ':'");
    if (line.size() < 11 || line.size() % 2 == 0) return QStringLiteral("it is cut short");
    *size = static_cast<int>((line.size() - 1) / 2);
    if (*size > int(bytes.size())) return QStringLiteral("it is too long");
    unsigned sum = 0;
    for (int k = 0; k < *size; ++k) {
        const int high = HexNibble(line, 1 + 2 * std::size_t(k));
        const int low = HexNibble(line, 2 + 2 * std::size_t(k));
        if ((high | low) < 0) return QStringLiteral("it holds a character that is no hex digit");
        bytes[k] = static_cast<std::uint8_t>(high << 4 | low);
        sum += bytes[k];
    }
    if (bytes[0] + 5 != *size)
        return QStringLiteral("its byte count says %1 data bytes, it holds %2")
            .arg(bytes[0])
            .arg(*size - 5);
    if ((sum & 0xFF) != 0) return QStringLiteral("its checksum is wrong");
    return {};
}

class IntelHexLoader {
public:
    explicit IntelHexLoader(LoadedImage& image) : image_(image), builder_(image) {}

    // Empty when the line was taken, else why the file is refused.
    QString Take(std::string_view line, int lineNumber) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        if (line.empty()) return {};
        if (ended_) return QStringLiteral("line %1 follows the end-of-file record").arg(lineNumber);
        int size = 0;
        if (const QString problem = RecordBytes(line, bytes_, &size); !problem.isEmpty())
            return QStringLiteral("line %1 is not an Intel HEX record: ").arg(lineNumber) + problem;
        const auto& bytes = bytes_;
        const int count = bytes[0];
        const std::uint32_t offset = std::uint32_t(bytes[1]) << 8 | bytes[2];
        const int type = bytes[3];
        const std::uint8_t* data = bytes.data() + 4;
        const auto word = [data](int k) { return std::uint32_t(data[k]) << 8 | data[k + 1]; };
        const std::array<int, 6> sizes{-1, 0, 2, 4, 2, 4};  // data bytes each type must carry
        if (type > Start)
            return QStringLiteral("line %1 has the unknown record type %2")
                .arg(lineNumber)
                .arg(QString::number(type, 16).rightJustified(2, QLatin1Char('0')).toUpper());
        if (sizes[type] >= 0 && count != sizes[type])
            return QStringLiteral("line %1: a record of type 0%2 carries %3 data bytes, not %4")
                .arg(lineNumber)
                .arg(type)
                .arg(count)
                .arg(sizes[type]);
        ++image_.report.records[type];
        switch (type) {
            case Data: StoreData(offset, data, count); break;
            case EndOfFile: ended_ = true; break;
            case Segment:
                base_ = word(0) << 4;
                segmented_ = true;
                break;
            case Linear:
                base_ = word(0) << 16;
                segmented_ = false;
                break;
            case SegmentStart:
                image_.report.layout << QStringLiteral("start address (03), not written: CS:IP ") +
                                            Hex(word(0), 4) + QLatin1Char(':') + Hex(word(2), 4);
                break;
            case Start:
                image_.report.layout << QStringLiteral("start address (05), not written: ") +
                                            Hex(word(0) << 16 | word(2), 8);
                break;
        }
        return {};
    }

    bool Ended() const { return ended_; }
    void Finish() { builder_.Finish(); }

private:
    // Under a segment base the offset wraps within its 64 KiB, as the format defines.
    void StoreData(std::uint32_t offset, const std::uint8_t* data, int count) {
        const int before = segmented_ ? std::min(count, int(0x10000 - offset)) : count;
        builder_.Store(std::uint64_t(base_) + offset, data, std::size_t(before));
        if (before < count) builder_.Store(base_, data + before, std::size_t(count - before));
    }

    LoadedImage& image_;
    ImageBuilder builder_;
    std::array<std::uint8_t, 261> bytes_{};  // the line at hand
    std::uint32_t base_ = 0;
    bool segmented_ = false;
    bool ended_ = false;
};

}  // namespace

std::variant<LoadedImage, QString> LoadIntelHexText(std::string_view text) {
    LoadedImage image;
    image.report.format = FirmwareFormat::IntelHex;
    image.report.fileBytes = static_cast<qint64>(text.size());
    IntelHexLoader loader(image);
    QString refusal;
    image.report.lines = ForEachLine(text, [&](std::string_view line, int number) {
        if (refusal.isEmpty()) refusal = loader.Take(line, number);
    });
    if (!refusal.isEmpty()) return refusal;
    if (!loader.Ended())
        return QStringLiteral(
            "it ends without an end-of-file record (01): the file may be cut short");
    loader.Finish();
    return image;
}

}  // namespace morven
