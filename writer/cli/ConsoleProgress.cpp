#include "ConsoleProgress.h"

namespace morven {

namespace {

constexpr qint64 RedrawIntervalMs = 100;

QString StageName(WriteStage stage) {
    return stage == WriteStage::Kernel ? QStringLiteral("kernel") : QStringLiteral("image");
}

}  // namespace

ProgressBoard::ProgressBoard(std::FILE* out, Style style, int rows)
    : out_(out), style_(style), rows_(rows) {}

void ProgressBoard::Show(int row, const QString& text, bool force) {
    rows_[row] = text;
    if (!force && drawn_ && redrawClock_.elapsed() < RedrawIntervalMs) return;
    Redraw();
}

// Output that cannot be written (a closed pipe) is dropped: progress is never worth a write.
void ProgressBoard::Redraw() {
    if (drawn_) std::fprintf(out_, "\033[%dA", int(rows_.size()));
    for (const QString& row : rows_) std::fprintf(out_, "\r%s\033[K\n", row.toUtf8().constData());
    std::fflush(out_);
    drawn_ = true;
    redrawClock_.start();
}

void ProgressBoard::Print(const QString& text) {
    std::fprintf(out_, "%s\n", text.toUtf8().constData());
    std::fflush(out_);
}

ConsoleProgress::ConsoleProgress(ProgressBoard& board, int row, QString label)
    : board_(board), row_(row), label_(std::move(label)) {}

void ConsoleProgress::SetProgressMaximum(WriteStage stage, int maximum) {
    stage_ = stage;
    maximum_ = maximum;
    shown_ = -1;
    shownTenths_ = -1;
    stageClock_.start();
    Show(0);
}

void ConsoleProgress::SetProgressValue(int value) {
    // The write sets 0 once it is over; a stage never goes back.
    if (value > shown_) Show(value);
}

void ConsoleProgress::Show(int value) {
    if (board_.ShownAs() == ProgressBoard::Style::Quiet || maximum_ <= 0) return;
    shown_ = value;
    const QString line =
        label_ + StatusLine(StageName(stage_), value, maximum_, stageClock_.elapsed());
    if (board_.ShownAs() == ProgressBoard::Style::Terminal) {
        board_.Show(row_, line, value == 0 || value >= maximum_);
        return;
    }
    const int tenths = static_cast<int>(static_cast<qint64>(value) * 10 / maximum_);
    if (tenths == shownTenths_) return;
    shownTenths_ = tenths;
    board_.Print(line);
}

QString ConsoleProgress::StatusLine(const QString& stage, int done, int total, qint64 elapsedMs) {
    QString line = QStringLiteral("%1  %2 / %3 bytes  %4 %")
                       .arg(stage, -6)
                       .arg(done, static_cast<int>(QString::number(total).size()))
                       .arg(total)
                       .arg(total > 0 ? static_cast<qint64>(done) * 100 / total : 0, 3);
    if (elapsedMs <= 0 || done <= 0) return line;
    const double perSecond = done * 1000.0 / static_cast<double>(elapsedMs);
    const qint64 secondsLeft = static_cast<qint64>((total - done) / perSecond + 0.5);
    return line + QStringLiteral("  %1 kB/s  %2:%3 left")
                      .arg(perSecond / 1000.0, 0, 'f', 1)
                      .arg(secondsLeft / 60)
                      .arg(secondsLeft % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace morven
