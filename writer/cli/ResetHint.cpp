#include "ResetHint.h"

namespace morven {

QStringList ResetHints(const QList<WriteResult>& results) {
    QStringList hints;
    for (const WriteResult& result : results) {
        const QString port = QStringLiteral("hint: ") + result.board.name + QStringLiteral(": ");
        if (result.outcome == WriteOutcome::NoAnswer)
            hints << port + QStringLiteral(
                                "no answer to the wake-up: reset the board into its boot mode "
                                "(after an interrupted write it still runs the kernel), and "
                                "check its cable and power");
        else if (result.Cancelled())
            hints << port + QStringLiteral(
                                "the board may still run the kernel: reset it into its boot "
                                "mode before the next write");
    }
    return hints;
}

}  // namespace morven
