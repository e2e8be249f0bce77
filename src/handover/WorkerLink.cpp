#include "handover/WorkerLink.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARVANIX_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define TARVANIX_TSAN 1
#endif
#ifdef TARVANIX_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace tvx {

namespace {

// Qt's event queue hands an event to the UI thread with synchronisation inside
// the uninstrumented Qt library, where ThreadSanitizer cannot see it. These
// state that edge on the event itself: everything the worker wrote before
// posting is visible to the UI thread when it runs the call.
void handOverReleased([[maybe_unused]] void* event)
{
#ifdef TARVANIX_TSAN
    __tsan_release(event);
#endif
}

void handOverAcquired([[maybe_unused]] void* event)
{
#ifdef TARVANIX_TSAN
    __tsan_acquire(event);
#endif
}

// A blocking call's worker waits on this until the UI thread is done with the
// call, or until the call was dropped unrun (the application went away).
class Completion {
public:
    // Notifies under the lock: the waiter owns this object and may destroy it
    // as soon as it sees done_.
    void signal()
    {
        std::lock_guard lock(mutex_);
        done_ = true;
        cond_.notify_one();
    }
    void wait()
    {
        std::unique_lock lock(mutex_);
        cond_.wait(lock, [this] { return done_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    bool done_ = false;
};

class CallEvent : public QEvent {
public:
    static QEvent::Type callType()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    CallEvent(std::function<void()> call, Completion* completion = nullptr)
        : QEvent(callType()), call_(std::move(call)), completion_(completion)
    {}
    // Qt deletes the event once delivered, or unrun when its receiver goes;
    // either way a waiting worker is released, also when the call threw.
    ~CallEvent() override
    {
        if (completion_)
            completion_->signal();
    }

    void run() { call_(); }

private:
    std::function<void()> call_;
    Completion* completion_;
};

// The one receiver of every worker's calls. It lives on the UI thread as a
// child of the application, so all calls share one queue and run in the order
// issued, and calls still queued when the application ends are dropped with it.
class CallReceiver : public QObject {
public:
    explicit CallReceiver(QObject* parent) : QObject(parent) {}
    ~CallReceiver() override
    {
        CallReceiver* self = this;
        current.compare_exchange_strong(self, nullptr);
    }

    bool event(QEvent* e) override
    {
        // Before the event is read at all, its type included.
        handOverAcquired(e);
        if (e->type() != CallEvent::callType())
            return QObject::event(e);
        static_cast<CallEvent*>(e)->run();
        return true;
    }

    static std::atomic<CallReceiver*> current;
};

std::atomic<CallReceiver*> CallReceiver::current{nullptr};

// Made on the UI thread inside the application's constructor, before any
// worker can run (and at once if an application already exists).
void makeCallReceiver()
{
    CallReceiver::current.store(new CallReceiver(QCoreApplication::instance()));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(makeCallReceiver)

WorkerLink::WorkerLink(std::shared_ptr<RunToken> token, ProgressView* view, Prompter* prompter,
                       LogFn log, int barMaximum)
    : token_(std::move(token)), view_(view), prompter_(prompter), log_(std::move(log)),
      barMaximum_(barMaximum)
{}

static bool onUiThread()
{
    auto* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

static void postCall(CallEvent* event)
{
    handOverReleased(event);
    QCoreApplication::postEvent(CallReceiver::current.load(), event);
}

void WorkerLink::postToUiThread(std::function<void()> effect)
{
    if (!QCoreApplication::instance()) {
        effect();
        return;
    }
    // One receiver for every effect of every worker keeps them in issue order.
    postCall(new CallEvent(std::move(effect)));
}

void WorkerLink::runOnUiThreadAndWait(const std::function<void()>& call)
{
    if (onUiThread()) {
        call();
        return;
    }
    Completion completion;
    postCall(new CallEvent(call, &completion));
    completion.wait();
}

void WorkerLink::post(std::function<void()> effect)
{
    postToUiThread([token = token_, effect = std::move(effect)] {
        if (!token || !token->detached())
            effect();
    });
}

void WorkerLink::postAlways(std::function<void()> effect)
{
    postToUiThread(std::move(effect));
}

void WorkerLink::setMessage(const QString& text)
{
    if (view_)
        post([view = view_, text] { view->setMessage(text); });
}

void WorkerLink::setPosition(int position)
{
    if (view_)
        post([view = view_, position] { view->setPosition(position); });
}

void WorkerLink::stepIt()
{
    if (view_)
        post([view = view_] { view->stepIt(); });
}

void WorkerLink::stepBy(int delta)
{
    if (view_)
        post([view = view_, delta] { view->stepBy(delta); });
}

void WorkerLink::appendLog(const QString& text)
{
    if (log_)
        log_(text);
}

void WorkerLink::storeResult(int result, const QString& detail)
{
    post([token = token_, result, detail] {
        if (token) {
            token->result = result;
            token->detail = detail;
        }
    });
}

void WorkerLink::finish()
{
    post([token = token_, view = view_] {
        if (token)
            token->finished = true;
        if (view)
            view->closeProgress();
    });
}

void WorkerLink::showError(const QString& text)
{
    if (!prompter_ || (token_ && token_->detached()))
        return;
    runOnUiThreadAndWait([this, &text] {
        if (!token_ || !token_->detached())
            prompter_->showError(text);
    });
}

void WorkerLink::showException(const QString& text)
{
    if (!prompter_ || (token_ && token_->detached()))
        return;
    runOnUiThreadAndWait([this, &text] {
        if (!token_ || !token_->detached())
            prompter_->showException(text);
    });
}

bool WorkerLink::askFinished(const QString& text, bool fallback)
{
    bool answer = fallback;
    if (!prompter_ || (token_ && token_->detached()))
        return answer;
    runOnUiThreadAndWait([this, &text, &answer] {
        if (!token_ || !token_->detached())
            answer = prompter_->askFinished(text);
    });
    return answer;
}

} // namespace tvx
