#pragma once

#include <QString>

#include <atomic>

namespace tvx {

// The result a run's token holds while the worker has stored none: the run is
// still going, or the user left it behind.
constexpr int kRunStillGoing = 1;
// The result every worker stores after an unexpected error, whose message the
// standard exception display has already shown.
constexpr int kUnexpectedResult = -100;

// What one run of an operation shares between the window that started it and
// its worker. Both hold it by shared pointer, so a worker that is still ending
// after a cancel writes into its own token, never into a later run's.
class RunToken {
public:
    // Any thread. The worker polls it at its polling points.
    void requestStop() { stop_.store(true); }
    bool stopRequested() const { return stop_.load(); }

    // UI thread, after a cancel: the worker's later effects on windows and on
    // the result are dropped.
    void detach() { detached_.store(true); }
    bool detached() const { return detached_.load(); }

    // UI thread only: written by the worker's hand-over, read by the window
    // once its modal wait has ended.
    int result = kRunStillGoing;
    // UI thread only: what the worker said of its failure where the code
    // alone cannot say it (which module answered, for one); stored with it.
    QString detail;
    // UI thread only: the worker's close of the progress window was applied.
    // A window that finds it set skips its modal wait.
    bool finished = false;

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> detached_{false};
};

} // namespace tvx
