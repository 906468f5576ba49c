#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdio>

#include "OperatorOutputs.h"

namespace morven {

// A write's progress on standard error. On a terminal: one line redrawn in place, at most ten
// times a second. Elsewhere (a log, a pipe): a line when each stage starts and at every 10 %.
// The write's first progress maximum starts the kernel stage, its second the image stage.
class ConsoleProgress : public ProgressDisplay {
public:
    enum class Style { Terminal, Lines, Quiet };

    ConsoleProgress(std::FILE* out, Style style);

    void SetProgressMaximum(int maximum) override;
    void SetProgressValue(int value) override;
    // Ends the line being redrawn, so that what follows starts on a line of its own.
    void Finish();

    // "image   196608 / 393216 bytes   50 %   5.6 kB/s   0:35 left"
    static QString StatusLine(const QString& stage, int done, int total, qint64 elapsedMs);

private:
    void Show(int value);

    std::FILE* out_;
    Style style_;
    int stages_ = 0;
    int maximum_ = 0;
    int shown_ = -1;
    int shownTenths_ = -1;
    QElapsedTimer stageClock_;
    QElapsedTimer redrawClock_;
    bool lineOpen_ = false;
};

}  // namespace morven
