#pragma once

#include <atomic>

namespace tvx {

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
    // once its modal wait has ended. 1 while the run has not stored a result.
    int result = 1;
    // UI thread only: the worker's close of the progress window was applied.
    // A window that finds it set skips its modal wait.
    bool finished = false;

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> detached_{false};
};

} // namespace tvx
