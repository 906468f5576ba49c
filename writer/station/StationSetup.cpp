#include "StationSetup.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include "line/Station.h"
#include "line/StrictRefusal.h"
#include "write/KernelFile.h"
#include "write/Serialization.h"

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
    return refusal ? QStringLiteral("NOT APPROVED (the recipe approves ") + Short(approved) + u')'
                   : QStringLiteral("approved");
}

QString RefusalProblem(const WriteRefusal& refusal, const QString& file, const QString& kernel) {
    switch (refusal.outcome) {
        case WriteOutcome::KernelMissing:
            return QStringLiteral("The kernel file ") + kernel +
                   QStringLiteral(" is missing, unreadable or empty.");
        case WriteOutcome::Cancelled:
            return QStringLiteral("Nothing arrived from ") + file +
                   QStringLiteral(", so reading it was stopped.");
        default: return refusal.text;
    }
}

}  // namespace

SerialStanding StandingOfRecipeValues(const Recipe& recipe, SerialStore& store) {
    if (!recipe.serial) return {QStringLiteral("none"), std::nullopt};
    SerialStanding standing = StandingOfValues(*recipe.serial, store, 1);
    standing.text = QStringLiteral("at 0x") + QString::number(recipe.serial->address, 16).toUpper() +
                    QStringLiteral(": ") + standing.text;
    return standing;
}

QList<ChosenPort> StationSetup::PresentPorts() const { return morven::PresentPorts(ports); }

StationSetup ExamineStation(const Recipe& recipe, SerialStore& store,
                            const std::function<bool()>& stop) {
    StationSetup setup;
    const QString kernelPath = recipe.kernelPath.isEmpty() ? KernelFilePath() : recipe.kernelPath;
    const QString file = DisplayName(recipe.firmware.path);
    setup.strictText = recipe.strict ? QStringLiteral("yes: a file with warnings is refused")
                                     : QStringLiteral("no: a file with warnings is written");
    const SerialStanding values = StandingOfRecipeValues(recipe, store);
    setup.serialText = values.text;
    StationPorts found = FindStationPorts(recipe.ports, SystemSerialPorts);
    setup.ports = std::move(found.ports);
    setup.problems << found.problems;
    // A recipe nobody released approves nothing, whatever its files.
    if (const auto refusal = Unreleased(recipe)) setup.problems.prepend(refusal->text);
    auto prepared = PrepareWrite(recipe.firmware, kernelPath, stop);
    if (const auto* refusal = std::get_if<WriteRefusal>(&prepared)) {
        setup.imageText = file + QStringLiteral(": not ready");
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
    for (const auto& refusal : {image, kernel})
        if (refusal) problems << refusal->text;
    if (const auto refusal = StrictRefusal(recipe, job.report))
        problems << refusal->text + QStringLiteral(" Its warnings: ") +
                        job.report.Warnings().join(QStringLiteral("; "));
    if (recipe.serial)
        if (const QString area = CheckSerialArea(*recipe.serial, job); !area.isEmpty())
            problems << SerialRefusal(area).text;
    if (values.refusal) problems << values.refusal->text;
    setup.problems = problems + setup.problems;
    return setup;
}

}  // namespace morven
