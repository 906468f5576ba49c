#include "WriteJob.h"

#include "image/FirmwareLoader.h"
#include "image/InputFile.h"

namespace morven {

namespace {

// The kernel's length is announced in two bytes.
constexpr qint64 KernelSizeLimit = 0x10000;
// A kernel file is read whole but never without bound, whatever it turns out to be.
constexpr qint64 KernelReadLimit = qint64(1) << 20;

WriteRefusal Unreadable(const QString& name, const InputRead& read) {
    if (read.status == InputRead::Status::Stopped) return {WriteOutcome::Cancelled, {}};
    if (read.status == InputRead::Status::Terminal)
        return {WriteOutcome::TerminalInput,
                QStringLiteral("Standard input is a terminal. Name the S-record FILE, or pipe it "
                               "in: ... | morven-cli -")};
    return {WriteOutcome::SRecordUnreadable,
            QStringLiteral("Cannot read the S-record file %1: %2. Nothing was sent.")
                .arg(name, read.error),
            read.error};
}

WriteRefusal KernelTooLong(const QString& path, const QString& size) {
    return {WriteOutcome::KernelTooLong,
            QStringLiteral("The kernel file %1 is %2 bytes long; at most %3 bytes can be "
                           "announced to the target. Nothing was sent.")
                .arg(path, size, QString::number(KernelSizeLimit - 1))};
}

}  // namespace

QString DisplayName(const QString& path) {
    return IsStandardInput(path) ? QStringLiteral("standard input") : path;
}

std::optional<WriteRefusal> NothingToWrite(const QString& path, const LoadReport& report) {
    if (report.HasData()) return std::nullopt;
    return WriteRefusal{
        WriteOutcome::NothingToWrite,
        QStringLiteral("The %1 file %2 has nothing to write: %3. Nothing was sent.")
            .arg(FormatName(report.format), DisplayName(path), report.NothingToWriteReason())};
}

std::variant<LoadedImage, WriteRefusal> LoadFirmwareInput(const FirmwareInput& input,
                                                          const std::function<bool()>& stop) {
    const InputRead read = ReadWholeInput(input.path, FirmwareFileLimit, stop);
    if (read.status != InputRead::Status::Ok) return Unreadable(DisplayName(input.path), read);
    auto loaded = LoadFirmware(
        std::string_view(read.bytes.constData(), static_cast<std::size_t>(read.bytes.size())),
        input.binaryAt);
    if (const auto* refusal = std::get_if<FormatRefusal>(&loaded))
        return WriteRefusal{
            WriteOutcome::FormatRefused,
            QStringLiteral("The %1 file %2 is refused: %3. Nothing was sent.")
                .arg(FormatName(refusal->format), DisplayName(input.path), refusal->reason),
            refusal->reason};
    return std::move(std::get<LoadedImage>(loaded));
}

std::variant<WriteJob, WriteRefusal> PrepareWrite(
    const FirmwareInput& input, const QString& kernelPath,
    const std::function<bool()>&
        stop) {  // The kernel's size check and its bytes come from this one read.
    const InputRead kernel = ReadWholeInput(kernelPath, KernelReadLimit, stop);
    switch (kernel.status) {
        case InputRead::Status::Stopped: return WriteRefusal{WriteOutcome::Cancelled, {}};
        case InputRead::Status::TooLarge:
            return KernelTooLong(kernelPath, QStringLiteral("over %1").arg(KernelReadLimit));
        case InputRead::Status::Ok:
            if (kernel.bytes.size() >= KernelSizeLimit)
                return KernelTooLong(kernelPath, QString::number(kernel.bytes.size()));
            if (!kernel.bytes.isEmpty()) break;
            [[fallthrough]];
        default:
            return WriteRefusal{WriteOutcome::KernelMissing,
                                QString::fromLatin1(KernelMissingText)};
    }

    auto loaded = LoadFirmwareInput(input, stop);
    if (auto* refusal = std::get_if<WriteRefusal>(&loaded)) return *refusal;
    if (auto refusal = NothingToWrite(input.path, std::get<LoadedImage>(loaded).report))
        return *refusal;
    WriteJob job;
    static_cast<LoadedImage&>(job) = std::move(std::get<LoadedImage>(loaded));
    job.fileName = DisplayName(input.path);
    job.Kernel = kernel.bytes;
    return job;
}

}  // namespace morven
