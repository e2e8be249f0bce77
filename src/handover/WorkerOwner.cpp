#include "handover/WorkerOwner.h"

#include "handover/WorkerLink.h"
#include "handover/WorkerThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace tvx {

namespace {
std::atomic<WorkerOwner*> currentOwner{nullptr};

bool onUiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}
} // namespace

WorkerOwner::WorkerOwner(std::chrono::milliseconds bound, StuckFn stuck)
    : bound_(bound), stuck_(std::move(stuck))
{
    previous_ = currentOwner.exchange(this);
}

WorkerOwner::~WorkerOwner()
{
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    stop();
    if (!waitUntil(Clock::time_point::max(), true))
        giveUp();
    WorkerOwner* self = this;
    currentOwner.compare_exchange_strong(self, previous_);
}

WorkerOwner* WorkerOwner::current()
{
    return currentOwner.load();
}

void WorkerOwner::start(std::unique_ptr<WorkerThread> worker)
{
    joinEnded();
    std::lock_guard lock(mutex_);
    Entry& entry = entries_.emplace_back();
    entry.token = worker->link_.token();
    if (closing_ && entry.token) {
        entry.token->requestStop();
        entry.token->detach();
    }
    ++live_;
    try {
        entry.thread = std::thread(
            [this, &entry, w = std::move(worker)]() mutable { run(entry, std::move(w)); });
    } catch (...) {
        --live_;
        entries_.pop_back();
        throw;
    }
}

void WorkerOwner::run(Entry& entry, std::unique_ptr<WorkerThread> worker)
{
    worker->body();
    // Destroyed on its own thread before it counts as ended: whatever it held
    // (its connection, and with it any temporary entry) is gone by then.
    worker.reset();
    std::lock_guard lock(mutex_);
    entry.ended = true;
    if (--live_ == 0)
        stopping_ = false;
    wakeLocked();
    // Nothing of this object is touched after the lock is released: the
    // owner may join this thread and go at once.
}

int WorkerOwner::liveCount() const
{
    std::lock_guard lock(mutex_);
    return live_;
}

void WorkerOwner::stop()
{
    std::lock_guard lock(mutex_);
    bool any = false;
    for (Entry& entry : entries_) {
        if (entry.ended)
            continue;
        any = true;
        if (entry.token) {
            entry.token->requestStop();
            entry.token->detach();
        }
    }
    if (any && !stopping_) {
        stopping_ = true;
        stopDeadline_ = Clock::now() + bound_;
    }
    // A wait that runs without a bound gets one now.
    wakeLocked();
}

bool WorkerOwner::waitFor(std::chrono::milliseconds bound)
{
    return waitUntil(Clock::now() + bound, false);
}

void WorkerOwner::waitForAll()
{
    if (!waitUntil(Clock::time_point::max(), true))
        giveUp();
}

void WorkerOwner::wakeLocked()
{
    ended_.notify_all();
    // A plain event, which the loop takes as quit: nothing of this thread's
    // is left for the UI thread to free.
    if (waker_)
        QCoreApplication::postEvent(waker_, new QEvent(QEvent::Quit));
}

WorkerOwner::Clock::time_point WorkerOwner::deadlineLocked(Clock::time_point deadline,
                                                           bool stopBound) const
{
    return stopBound && stopping_ ? std::min(deadline, stopDeadline_) : deadline;
}

bool WorkerOwner::waitUntil(Clock::time_point deadline, bool stopBound)
{
    if (onUiThread()) {
        // An event loop rather than a blocking wait: a worker may be waiting
        // for the UI thread to run one of its calls before it can end. Each
        // worker that ends (and each stop) quits the loop, so the count is
        // looked at again; user input waits until the workers are gone.
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        for (;;) {
            Clock::time_point until;
            {
                std::lock_guard lock(mutex_);
                until = deadlineLocked(deadline, stopBound);
                if (live_ == 0 || Clock::now() >= until) {
                    waker_ = nullptr;
                    break;
                }
                waker_ = &loop;
            }
            if (until != Clock::time_point::max()) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
                timer.start(static_cast<int>(std::clamp<long long>(left, 0, INT_MAX)));
            }
            loop.exec(QEventLoop::ExcludeUserInputEvents);
            timer.stop();
        }
        // A worker that ended before the wait began may have left effects
        // in the queue: they are applied before the wait returns.
        WorkerLink::applyPendingEffects();
    } else {
        std::unique_lock lock(mutex_);
        for (;;) {
            const Clock::time_point until = deadlineLocked(deadline, stopBound);
            if (live_ == 0 || Clock::now() >= until)
                break;
            if (until == Clock::time_point::max())
                ended_.wait(lock);
            else
                ended_.wait_until(lock, until);
        }
    }
    joinEnded();
    return liveCount() == 0;
}

void WorkerOwner::joinEnded()
{
    std::list<Entry> ended;
    {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end();) {
            const auto next = std::next(it);
            if (it->ended)
                ended.splice(ended.end(), entries_, it);
            it = next;
        }
    }
    // Each has left its run and released the lock: the join is immediate.
    for (Entry& entry : ended)
        entry.thread.join();
}

void WorkerOwner::giveUp()
{
    const int running = liveCount();
    if (stuck_)
        stuck_(running);
    const QByteArray name = QCoreApplication::applicationName().toLocal8Bit();
    std::fprintf(stderr, "%s: %d worker%s did not end in time\n",
                 name.isEmpty() ? "tarvanix" : name.constData(), running, running == 1 ? "" : "s");
    // Destroying the application and the windows under a running worker
    // would be worse than leaving its entries to the helper's next start.
    std::fflush(nullptr);
    std::_Exit(1);
}

} // namespace tvx
