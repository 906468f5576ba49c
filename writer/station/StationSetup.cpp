#include "StationSetup.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include "line/Station.h"
#include "line/StrictRefusal.h"
#include "serial/UnitNumberRule.h"
#include "write/KernelFile.h"

namespace morven {

namespace {

// Enough of a hash to tell two apart at a glance; the banner names them whole.
QString Short(const QByteArray& hex) { return QString::fromLatin1(hex.left(12)) + u'…'; }

// The line's own rule, asked about the image or the kernel alone, so that both are told.
std::optional<WriteRefusal> UnapprovedPart(const Recipe& recipe, const WriteJob& job, bool image) {
    Recipe alone = recipe;
    (image ? alone.kernelSha256 : alone.imageSha256).clear();
    alone.release = {};  // told once, on its own
    return Unapproved(alone, job);
}

QString Approval(const std::optional<WriteRefusal>& refusal, const QByteArray& approved) {
    return refusal ? StationSetup::tr("NOT APPROVED (the recipe approves %1)").arg(Short(approved))
                   : StationSetup::tr("approved");
}

// The line's refusal said in the station's words, with both hashes whole.
QString HashProblem(bool image, const QString& file, const QByteArray& found,
                    const QByteArray& approved) {
    const QString text =
        image ? StationSetup::tr("The image %1 has SHA-256 %2; the recipe approves %3. "
                                 "Nothing is sent.")
              : StationSetup::tr("The kernel file %1 has SHA-256 %2; the recipe approves %3. "
                                 "Nothing is sent.");
    return text.arg(file, QString::fromLatin1(found), QString::fromLatin1(approved));
}

QString RefusalProblem(const WriteRefusal& refusal, const QString& file, const QString& kernel) {
    switch (refusal.outcome) {
        case WriteOutcome::KernelMissing:
            return StationSetup::tr("The kernel file %1 is missing, unreadable or empty.")
                .arg(kernel);
        case WriteOutcome::Cancelled:
            return StationSetup::tr("Nothing arrived from %1, so reading it was stopped.")
                .arg(file);
        default: return refusal.text;
    }
}

}  // namespace

UnitNumberStanding StandingOfRecipeValues(const Recipe& recipe, UnitNumberStore& store) {
    if (!recipe.unitNumberRule) return {StationSetup::tr("none"), std::nullopt};
    UnitNumberStanding standing = StandingOfValues(*recipe.unitNumberRule, store, 1);
    standing.text =
        StationSetup::tr("at 0x%1: %2")
            .arg(QString::number(recipe.unitNumberRule->address, 16).toUpper(), standing.text);
    return standing;
}

QList<ChosenPort> StationSetup::PresentPorts() const { return morven::PresentPorts(ports); }

StationSetup ExamineStation(const Recipe& recipe, UnitNumberStore& store,
                            const std::function<bool()>& stop) {
    StationSetup setup;
    const QString kernelPath = recipe.kernelPath.isEmpty() ? KernelFilePath() : recipe.kernelPath;
    const QString file = DisplayName(recipe.firmware.path);
    setup.strictText = recipe.strict ? StationSetup::tr("yes: a file with warnings is refused")
                                     : StationSetup::tr("no: a file with warnings is written");
    StationPorts found = FindStationPorts(recipe.ports, SystemSerialPorts);
    setup.ports = std::move(found.ports);
    setup.problems << found.problems;
    // A recipe nobody released approves nothing: neither the files nor the unit-number state it
    // names are read, nor the database it names reached.
    if (const auto refusal = Unreleased(recipe)) {
        setup.problems.prepend(refusal->text);
        setup.imageText = StationSetup::tr("%1: not ready").arg(file);
        setup.kernelText = kernelPath;
        return setup;
    }
    const UnitNumberStanding values = StandingOfRecipeValues(recipe, store);
    setup.unitNumberText = values.text;
    auto prepared = PrepareWrite(recipe.firmware, kernelPath, stop);
    if (const auto* refusal = std::get_if<WriteRefusal>(&prepared)) {
        setup.imageText = StationSetup::tr("%1: not ready").arg(file);
        setup.kernelText = kernelPath;
        setup.problems.prepend(RefusalProblem(*refusal, file, kernelPath));
        return setup;
    }
    setup.job.emplace(std::move(std::get<WriteJob>(prepared)));
    setup.job->recipeSigner = recipe.release.signer;
    const WriteJob& job = *setup.job;
    const QByteArray kernelSha =
        QCryptographicHash::hash(job.Kernel, QCryptographicHash::Sha256).toHex();
    const auto image = UnapprovedPart(recipe, job, true);
    const auto kernel = UnapprovedPart(recipe, job, false);
    setup.imageText = file + QStringLiteral(", ") + FormatName(job.report.format) +
                      QStringLiteral(", SHA-256 ") + Short(job.report.sha256.toHex()) +
                      QStringLiteral(", ") + Approval(image, recipe.imageSha256);
    setup.kernelText = QFileInfo(kernelPath).fileName() + QStringLiteral(", SHA-256 ") +
                       Short(kernelSha) + QStringLiteral(", ") +
                       Approval(kernel, recipe.kernelSha256);
    QStringList problems;
    if (image)
        problems << HashProblem(true, job.fileName, job.report.sha256.toHex(), recipe.imageSha256);
    if (kernel) problems << HashProblem(false, recipe.kernelPath, kernelSha, recipe.kernelSha256);
    // The warnings themselves are the loader's, as morven-cli prints them.
    if (StrictRefusal(recipe, job.report))
        problems << StationSetup::tr(
                        "The %1 file %2 has warnings, and the recipe is strict: it "
                        "is not written. Its warnings: %3")
                        .arg(FormatName(job.report.format), file,
                             job.report.Warnings().join(QStringLiteral("; ")));
    if (recipe.unitNumberRule)
        if (const QString area = CheckUnitNumberArea(*recipe.unitNumberRule, job); !area.isEmpty())
            problems << StationSetup::tr("No serial values: %1. Nothing is sent.").arg(area);
    if (values.refusal) problems << values.refusal->text;
    setup.problems = problems + setup.problems;
    return setup;
}

}  // namespace morven
