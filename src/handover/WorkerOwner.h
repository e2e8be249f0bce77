#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

class QEventLoop;

namespace tvx {

class RunToken;
class WorkerThread;

// The owner of one program's workers: it starts each worker in a thread of
// its own, knows every one that runs, and joins them before it goes. The
// utility's main() and the command line's CliApp each own one, made before the
// first worker can start and destroyed before the application object, so no
// worker outlives the objects its effects are bound to, and no record of the
// workers outlives main().
//
// Its destructor asks every worker to stop (each one then detaches from its
// windows), and waits for them at most `bound`: a worker only ever blocks in
// bounded waits, so a stopped one ends within seconds, after its connection
// has removed its temporary ARP entry and route. On the UI thread the wait
// keeps delivering the hand-over's calls, so a worker blocked on one of them
// (a prompt, a decision) gets its answer (a detached run's prompts are
// answered with their fallback at once) and goes on to its end. A worker
// still running after the bound is stuck: `stuck` then ends the process
// (std::_Exit) without destroying what the worker still uses.
//
// The windows and the command line start their workers with
// WorkerThread::start, which hands them to the owner made last (`current`).
class WorkerOwner {
public:
    // How long a stopped worker may take to end. The longest uninterruptible
    // wait of any worker is a few seconds (a connect pause, a reply wait).
    static constexpr std::chrono::milliseconds kStopBound{30000};

    // Runs when workers are still running after the bound, with their count;
    // it must end the process. By default it says so on standard error and
    // ends it with status 1.
    using StuckFn = std::function<void(int running)>;

    explicit WorkerOwner(std::chrono::milliseconds bound = kStopBound, StuckFn stuck = {});
    // stop(), then waits at most the bound; a stuck worker ends the process.
    ~WorkerOwner();
    WorkerOwner(const WorkerOwner&) = delete;
    WorkerOwner& operator=(const WorkerOwner&) = delete;

    // The owner WorkerThread::start hands to: the one made last that still
    // lives; nullptr when there is none.
    static WorkerOwner* current();

    // Starts the worker's run in a thread of its own; the worker is destroyed
    // on that thread when its run ends. Once the owner is going, a new worker
    // is asked to stop at once.
    void start(std::unique_ptr<WorkerThread> worker);
    // Workers whose run has not ended.
    int liveCount() const;
    // Any thread: asks every running worker to stop and detaches it from its
    // windows, so none of them prompts or closes anything any more. Workers
    // started later are not affected.
    void stop();
    // Waits until every worker has ended and its last effects have been
    // applied, at most `bound`. On the UI thread its events keep running
    // meanwhile (user input excepted). True when none is left.
    bool waitFor(std::chrono::milliseconds bound);
    // Waits until every worker has ended and its last effects have been
    // applied. Workers that were not asked to stop end by their own bounded
    // waits; once stop() was called, the wait ends at the bound (counted from
    // the stop) and a worker still running then is stuck.
    void waitForAll();

private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<RunToken> token;
        bool ended = false;
    };
    using Clock = std::chrono::steady_clock;

    void run(Entry& entry, std::unique_ptr<WorkerThread> worker);
    // Waits until none is live, or until `deadline`, or (with `stopBound`)
    // until the bound after a stop; joins the threads that ended.
    bool waitUntil(Clock::time_point deadline, bool stopBound);
    Clock::time_point deadlineLocked(Clock::time_point deadline, bool stopBound) const;
    void wakeLocked();
    void joinEnded();
    [[noreturn]] void giveUp();

    const std::chrono::milliseconds bound_;
    StuckFn stuck_;
    WorkerOwner* previous_ = nullptr;

    mutable std::mutex mutex_;
    std::condition_variable ended_;
    std::list<Entry> entries_;
    int live_ = 0;
    // A stop's workers are still running: waits end at stopDeadline_.
    bool stopping_ = false;
    Clock::time_point stopDeadline_{};
    // The destructor runs: every worker, a new one too, is stopped.
    bool closing_ = false;
    // The UI thread's wait, woken by each worker that ends.
    QEventLoop* waker_ = nullptr;
};

} // namespace tvx
