#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <memory>

namespace tvx {

// How many modules an operation on several reaches at once unless told
// otherwise: the window's batches and the CLI's --jobs.
constexpr int kDefaultJobs = 4;

// The one rule for running many operations with a bound: runs start in the
// order they were added, at most `limit` at once, the next one as soon as an
// earlier one has ended. A run is started by its start function and says
// when it is over by calling the `ended` it was given (once, on the thread
// that owns the queue, the UI thread). The next run starts from the event
// loop, never inside `ended`, so a run may end inside its own start. Used by
// the main window's batches and the CLI's FleetRunner.
class RunQueue {
public:
    using Start = std::function<void(std::function<void()> ended)>;

    explicit RunQueue(int limit = kDefaultJobs);
    ~RunQueue();
    RunQueue(const RunQueue&) = delete;
    RunQueue& operator=(const RunQueue&) = delete;

    void add(Start start);
    // Starts the first runs; later ones follow as runs end.
    void start();
    // No run starts any more; those running go on to their end.
    void stop();

    int running() const;
    int waiting() const;
    // Nothing runs and nothing more will start.
    bool idle() const;
    // Runs once the queue has become idle after start().
    void setOnIdle(std::function<void()> call);

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace tvx
