#pragma once

#include <QString>

#include <chrono>

namespace tvx {

class WorkerLink;

// Hands label texts and bar steps to the progress window no faster than the
// eye can follow. A transfer that acknowledges a block every few microseconds
// would otherwise queue thousands of repaints; what the window shows once the
// pacer is flushed is exactly what it would have shown without it: the latest
// text and the sum of the steps (steps are clamped at the bar's end either way).
class ProgressPacer {
public:
    // `barStep` is the window's step, so that n pending steps become one move.
    ProgressPacer(WorkerLink& link, int barStep, std::chrono::milliseconds interval);

    void setMessage(const QString& text);
    void stepIt();
    // Hands over whatever is pending now.
    void flush();
    bool pending() const { return hasMessage_ || steps_ > 0; }

private:
    void postIfDue();

    WorkerLink& link_;
    int barStep_;
    std::chrono::milliseconds interval_;
    std::chrono::steady_clock::time_point lastPost_{};
    QString message_;
    bool hasMessage_ = false;
    int steps_ = 0;
};

} // namespace tvx
