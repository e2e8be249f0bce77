#include "cli/TerminalDisplay.h"

#include "text/PrintableText.h"

#include <QRegularExpression>

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tvx::cli {

namespace {
// A run's label without its numbers: "send packet 17" and "send packet 18" are
// one stage, which a plain log shows once.
QString stageOf(const QString& message)
{
    static const QRegularExpression digits(QStringLiteral("[0-9]+"));
    QString stage = message;
    return stage.remove(digits);
}

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
} // namespace

TerminalDisplay::TerminalDisplay(bool bar, std::FILE* out) : bar_(bar), out_(out) {}

bool TerminalDisplay::stderrIsTerminal()
{
    const char* term = std::getenv("TERM");
    return ::isatty(STDERR_FILENO) == 1 && !(term && std::strcmp(term, "dumb") == 0);
}

int TerminalDisplay::width() const
{
    winsize size{};
    if (::ioctl(fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
        return size.ws_col;
    return 80;
}

void TerminalDisplay::beginRuns(int total)
{
    std::lock_guard guard(lock_);
    total_ = total;
    ended_ = 0;
    runs_.clear();
}

void TerminalDisplay::progress(const QString& run, const QString& message, double done)
{
    if (quiet_)
        return;
    std::lock_guard guard(lock_);
    RunState& state = runs_[run];
    state.message = message;
    state.fraction = std::max(state.fraction, std::clamp(done, 0.0, 1.0));
    if (bar_) {
        drawStatusLocked(false);
        return;
    }
    // Plain lines: a new stage, or every further quarter of the run within one.
    // Not the last: a stage's label stays up while its step's bar is filled at
    // its end, and "25/35 (100%)" would tell of work that was never left.
    const QString stage = stageOf(message);
    const int quarter = static_cast<int>(state.fraction * 4);
    if (message.isEmpty()
        || (stage == state.shownStage && (quarter <= state.shownQuarter || quarter >= 4)))
        return;
    state.shownStage = stage;
    state.shownQuarter = quarter;
    const QString prefix = run.isEmpty() ? QString() : run + QStringLiteral(": ");
    std::fprintf(out_, "%s%s (%d%%)\n", printableText(prefix).toLocal8Bit().constData(),
                 printableText(message).toLocal8Bit().constData(),
                 static_cast<int>(state.fraction * 100));
    std::fflush(out_);
}

void TerminalDisplay::runEnded(const QString& run)
{
    std::lock_guard guard(lock_);
    runs_.remove(run);
    ++ended_;
    if (bar_ && !quiet_)
        drawStatusLocked(true);
}

void TerminalDisplay::line(const QString& text)
{
    std::lock_guard guard(lock_);
    eraseLocked();
    std::fprintf(out_, "%s\n", printableText(text, true).toLocal8Bit().constData());
    if (bar_ && !runs_.isEmpty())
        drawStatusLocked(true);
    std::fflush(out_);
}

void TerminalDisplay::clearStatus()
{
    std::lock_guard guard(lock_);
    eraseLocked();
    std::fflush(out_);
}

void TerminalDisplay::eraseLocked()
{
    if (statusShown_)
        std::fputs("\r\033[K", out_);
    statusShown_ = false;
    lastStatus_.clear();
}

void TerminalDisplay::drawStatusLocked(bool force)
{
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = now;

    QString label;
    double fraction = 0;
    if (total_ <= 1 && runs_.size() <= 1) {
        if (!runs_.isEmpty()) {
            const RunState& only = runs_.begin().value();
            label =
                (runs_.begin().key().isEmpty() ? QString() : runs_.begin().key() + QLatin1Char(' '))
                + only.message;
            fraction = only.fraction;
        }
    } else {
        double sum = ended_;
        for (const RunState& r : std::as_const(runs_))
            sum += r.fraction;
        fraction = total_ > 0 ? sum / total_ : 0;
        label = QStringLiteral("%1/%2 done, %3 running").arg(ended_).arg(total_).arg(runs_.size());
    }
    if (runs_.isEmpty() && ended_ == 0)
        return;

    const int columns = width() - 1;
    const int barWidth = std::clamp(columns / 3, 10, 40);
    const int filled = static_cast<int>(fraction * barWidth + 0.5);
    const QString barText =
        QStringLiteral("[%1%2] %3%")
            .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('-')))
            .arg(static_cast<int>(fraction * 100), 3);
    const int room = std::max(0, columns - static_cast<int>(barText.size()) - 1);
    const QString status = label.left(room).leftJustified(room) + QLatin1Char(' ') + barText;
    if (status == lastStatus_)
        return;
    std::fprintf(out_, "\r\033[K%s", printableText(status).toLocal8Bit().constData());
    std::fflush(out_);
    lastStatus_ = status;
    statusShown_ = true;
}

} // namespace tvx::cli
