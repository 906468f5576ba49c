#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <cstdio>

#include "write/ProgressDisplay.h"

namespace morven {

// Standard error's progress area, shared by every write of one run. On a terminal: one row per
// write, all redrawn in place at most ten times a second. Elsewhere (a log, a pipe): lines.
class ProgressBoard {
public:
    enum class Style { Terminal, Lines, Quiet };

    ProgressBoard(std::FILE* out, Style style, int rows);

    Style ShownAs() const { return style_; }
    // Terminal: replaces a row's text and redraws, unless the last redraw was too recent.
    void Show(int row, const QString& text, bool force);
    // Lines: one line of its own.
    void Print(const QString& text);

private:
    void Redraw();

    std::FILE* out_;
    Style style_;
    QStringList rows_;
    bool drawn_ = false;
    QElapsedTimer redrawClock_;
};

// One write's progress on the board: a row redrawn on a terminal; elsewhere a line when each
// stage starts and at every 10 %, behind the write's label (its port, in a gang).
class ConsoleProgress : public ProgressDisplay {
public:
    ConsoleProgress(ProgressBoard& board, int row, QString label);

    void SetProgressMaximum(WriteStage stage, int maximum) override;
    void SetProgressValue(int value) override;

    // "image   196608 / 393216 bytes   50 %  5.6 kB/s  0:35 left"
    static QString StatusLine(const QString& stage, int done, int total, qint64 elapsedMs);

private:
    void Show(int value);

    ProgressBoard& board_;
    int row_;
    QString label_;
    WriteStage stage_ = WriteStage::Kernel;
    int maximum_ = 0;
    int shown_ = -1;
    int shownTenths_ = -1;
    QElapsedTimer stageClock_;
};

}  // namespace morven
