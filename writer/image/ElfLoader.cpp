#include "ElfLoader.h"

#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "ImageBuilder.h"

namespace morven {

namespace {

struct Segment {
    std::size_t index;
    GElf_Phdr header;
};

// Addresses in eight digits: ELF's are 32 bits or more.
QString Address(std::uint64_t value) { return Hex(value, 8); }

QString LibelfError() { return QString::fromLocal8Bit(elf_errmsg(-1)); }

QString SegmentText(const Segment& segment) {
    const GElf_Phdr& header = segment.header;
    QString text = QStringLiteral("segment %1: ").arg(segment.index) +
                   (header.p_filesz == 0
                        ? QStringLiteral("no file bytes")
                        : Address(header.p_paddr) + QLatin1Char('-') +
                              Address(header.p_paddr + header.p_filesz - 1) +
                              QStringLiteral(", %1 bytes from file offset ").arg(header.p_filesz) +
                              Address(header.p_offset));
    if (header.p_vaddr != header.p_paddr)
        text += QStringLiteral(", run at ") + Address(header.p_vaddr);
    if (header.p_memsz > header.p_filesz)
        text += QStringLiteral(", %1 more bytes in memory only, not written")
                    .arg(header.p_memsz - header.p_filesz);
    return text;
}

// The loadable segments, or why there are none to trust.
std::variant<std::vector<Segment>, QString> LoadableSegments(Elf* elf, std::size_t fileSize) {
    GElf_Ehdr header;
    if (gelf_getehdr(elf, &header) == nullptr)
        return QStringLiteral("its header cannot be read (") + LibelfError() +
               QStringLiteral("): the file may be cut short");
    std::size_t count = 0;
    if (elf_getphdrnum(elf, &count) != 0)
        return QStringLiteral("its program headers cannot be read (") + LibelfError() +
               QLatin1Char(')');
    std::vector<Segment> segments;
    for (std::size_t i = 0; i < count; ++i) {
        Segment segment{i, {}};
        if (gelf_getphdr(elf, static_cast<int>(i), &segment.header) == nullptr)
            return QStringLiteral("program header %1 cannot be read (").arg(i) + LibelfError() +
                   QStringLiteral("): the file may be cut short");
        if (segment.header.p_type != PT_LOAD) continue;
        const GElf_Phdr& h = segment.header;
        if (h.p_offset > fileSize || h.p_filesz > fileSize - h.p_offset)
            return QStringLiteral(
                       "segment %1 reaches past the end of the file: the file is cut "
                       "short")
                .arg(i);
        segments.push_back(segment);
    }
    if (segments.empty()) return QStringLiteral("it has no loadable segment");
    return segments;
}

// Two segments whose file bytes land on the same address: which one the target gets would
// depend on their order, so neither is trusted.
QString Overlap(std::vector<Segment> segments) {
    std::erase_if(segments, [](const Segment& s) { return s.header.p_filesz == 0; });
    std::sort(segments.begin(), segments.end(), [](const Segment& a, const Segment& b) {
        return a.header.p_paddr < b.header.p_paddr;
    });
    for (std::size_t k = 1; k < segments.size(); ++k) {
        const GElf_Phdr& before = segments[k - 1].header;
        if (before.p_paddr + before.p_filesz > segments[k].header.p_paddr)
            return QStringLiteral("segments %1 and %2 overlap at ")
                       .arg(segments[k - 1].index)
                       .arg(segments[k].index) +
                   Address(segments[k].header.p_paddr);
    }
    return {};
}

}  // namespace

std::variant<LoadedImage, QString> LoadElf(std::string_view bytes) {
    // The smallest header, 32-bit; libelf would only call a shorter file "not ELF".
    constexpr std::size_t SmallestHeader = 52;
    if (bytes.size() < SmallestHeader)
        return QStringLiteral(
                   "it is cut short: an ELF header takes at least %1 bytes, the file "
                   "has %2")
            .arg(SmallestHeader)
            .arg(bytes.size());
    elf_version(EV_CURRENT);
    // libelf reads from memory it may convert in place: it gets a copy of its own.
    std::vector<char> copy(bytes.begin(), bytes.end());
    const std::unique_ptr<Elf, decltype(&elf_end)> elf(elf_memory(copy.data(), copy.size()),
                                                       &elf_end);
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF)
        return QStringLiteral("it is not an ELF file libelf can read (") + LibelfError() +
               QLatin1Char(')');
    auto found = LoadableSegments(elf.get(), bytes.size());
    if (const auto* problem = std::get_if<QString>(&found)) return *problem;
    const auto& segments = std::get<std::vector<Segment>>(found);
    if (const QString overlap = Overlap(segments); !overlap.isEmpty()) return overlap;

    LoadedImage image;
    image.report.format = FirmwareFormat::Elf;
    image.report.fileBytes = static_cast<qint64>(bytes.size());
    ImageBuilder builder(image);
    for (const Segment& segment : segments) {
        const GElf_Phdr& h = segment.header;
        builder.Store(h.p_paddr, reinterpret_cast<const std::uint8_t*>(bytes.data()) + h.p_offset,
                      h.p_filesz);
        image.report.layout << SegmentText(segment);
    }
    builder.Finish();
    return image;
}

}  // namespace morven
