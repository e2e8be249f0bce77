#include "handover/RunQueue.h"

#include <QTimer>

#include <algorithm>

namespace tvx {

struct RunQueue::State {
    int limit = kDefaultJobs;
    std::deque<Start> waiting;
    int running = 0;
    bool started = false;
    bool stopped = false;
    bool idleSaid = false;
    std::function<void()> onIdle;
    // Deferred starts are dropped with it when the queue goes.
    QObject context;

    bool idle() const { return running == 0 && (stopped || waiting.empty()); }

    static void startMore(const std::shared_ptr<State>& self)
    {
        while (!self->stopped && self->running < self->limit && !self->waiting.empty()) {
            Start start = std::move(self->waiting.front());
            self->waiting.pop_front();
            ++self->running;
            std::weak_ptr<State> weak = self;
            auto once = std::make_shared<bool>(false);
            start([weak, once] {
                const std::shared_ptr<State> state = weak.lock();
                if (!state || *once)
                    return;
                *once = true;
                --state->running;
                QTimer::singleShot(0, &state->context, [weak] {
                    if (const std::shared_ptr<State> s = weak.lock())
                        startMore(s);
                });
            });
        }
        self->sayIdle();
    }

    void sayIdle()
    {
        if (!started || idleSaid || !idle())
            return;
        idleSaid = true;
        if (onIdle)
            onIdle();
    }
};

RunQueue::RunQueue(int limit) : state_(std::make_shared<State>())
{
    state_->limit = std::max(1, limit);
}

RunQueue::~RunQueue() = default;

void RunQueue::add(Start start)
{
    state_->waiting.push_back(std::move(start));
}

void RunQueue::start()
{
    state_->started = true;
    State::startMore(state_);
}

void RunQueue::stop()
{
    state_->stopped = true;
    state_->waiting.clear();
    state_->sayIdle();
}

int RunQueue::running() const
{
    return state_->running;
}

int RunQueue::waiting() const
{
    return state_->stopped ? 0 : static_cast<int>(state_->waiting.size());
}

bool RunQueue::idle() const
{
    return state_->idle();
}

void RunQueue::setOnIdle(std::function<void()> call)
{
    state_->onIdle = std::move(call);
}

} // namespace tvx
