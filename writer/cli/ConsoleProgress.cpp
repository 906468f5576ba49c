#include "ConsoleProgress.h"

namespace morven {

namespace {

constexpr qint64 RedrawIntervalMs = 100;

QString StageName(int stage) {
    return stage == 1 ? QStringLiteral("kernel") : QStringLiteral("image");
}

}  // namespace

ConsoleProgress::ConsoleProgress(std::FILE* out, Style style) : out_(out), style_(style) {}

void ConsoleProgress::SetProgressMaximum(int maximum) {
    ++stages_;
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
    if (style_ == Style::Quiet || maximum_ <= 0) return;
    const bool stageDone = value >= maximum_;
    if (style_ == Style::Lines) {
        const int tenths = static_cast<int>(static_cast<qint64>(value) * 10 / maximum_);
        if (tenths == shownTenths_) return;
        shownTenths_ = tenths;
    } else if (!stageDone && shown_ >= 0 && redrawClock_.elapsed() < RedrawIntervalMs) {
        return;
    }
    shown_ = value;
    redrawClock_.start();
    const QByteArray line =
        StatusLine(StageName(stages_), value, maximum_, stageClock_.elapsed()).toUtf8();
    if (style_ == Style::Lines) {
        std::fprintf(out_, "%s\n", line.constData());
    } else {
        std::fprintf(out_, "\r%s\033[K", line.constData());
        lineOpen_ = true;
    }
    std::fflush(out_);
}

void ConsoleProgress::Finish() {
    if (!lineOpen_) return;
    std::fputc('\n', out_);
    lineOpen_ = false;
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
