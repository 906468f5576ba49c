#include "CheckVerdict.h"

namespace morven {

QString RefusalReason(const WriteRefusal& refusal, const QString& kernelPath) {
    if (refusal.outcome == WriteOutcome::KernelMissing)
        return QStringLiteral("the kernel file %1 is missing, unreadable or empty").arg(kernelPath);
    if (refusal.outcome == WriteOutcome::SRecordUnreadable)
        return QStringLiteral("it cannot be read: ") + refusal.reason;
    if (!refusal.reason.isEmpty()) return refusal.reason;
    return QString(refusal.text).remove(QStringLiteral(" Nothing was sent."));
}

QString VerdictOnly(const QString& file, const QString& verdict) {
    return QStringLiteral("file:      ") + file + QStringLiteral("\nverdict:   ") + verdict;
}

}  // namespace morven
