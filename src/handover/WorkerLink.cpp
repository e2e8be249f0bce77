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
{
    if (view_) {
        viewAlive_ = dynamic_cast<const QObject*>(view_);
        if (!viewAlive_)
            qFatal("WorkerLink: a progress view must be a QObject");
    }
    context_ = viewAlive_ ? viewAlive_ : QPointer<const QObject>(prompter_.data());
    bound_ = !context_.isNull();
}

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

// Without an application there is no UI thread to hand over to (a test of a
// sequence alone): the effect runs where it was issued.
static void postEffect(std::function<void()> effect)
{
    if (!QCoreApplication::instance()) {
        effect();
        return;
    }
    // One receiver for every effect of every worker keeps them in issue order.
    postCall(new CallEvent(std::move(effect)));
}

void WorkerLink::postToUiThread(const QPointer<const QObject>& context,
                                std::function<void()> effect)
{
    postEffect([context, effect = std::move(effect)] {
        if (context)
            effect();
    });
}

void WorkerLink::applyPendingEffects()
{
    if (CallReceiver* receiver = CallReceiver::current.load())
        QCoreApplication::sendPostedEvents(receiver, CallEvent::callType());
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

// A link without a view or a prompter has no window to outlive: its effects
// reach only the token, which the worker shares.
void WorkerLink::post(std::function<void()> effect)
{
    postEffect([token = token_, context = context_, bound = bound_, effect = std::move(effect)] {
        if ((!bound || context) && (!token || !token->detached()))
            effect();
    });
}

void WorkerLink::postAlways(std::function<void()> effect)
{
    postEffect([context = context_, bound = bound_, effect = std::move(effect)] {
        if (!bound || context)
            effect();
    });
}

bool WorkerLink::callAndWait(const std::function<void()>& call)
{
    if (token_ && token_->detached())
        return false;
    bool ran = false;
    runOnUiThreadAndWait([token = token_, context = context_, bound = bound_, &call, &ran] {
        if ((!bound || context) && (!token || !token->detached())) {
            call();
            ran = true;
        }
    });
    return ran;
}

void WorkerLink::postToView(std::function<void(ProgressView&)> effect)
{
    if (!view_)
        return;
    postEffect([token = token_, alive = viewAlive_, view = view_, effect = std::move(effect)] {
        if (alive && (!token || !token->detached()))
            effect(*view);
    });
}

void WorkerLink::setMessage(const QString& text)
{
    postToView([text](ProgressView& view) { view.setMessage(text); });
}

void WorkerLink::setPosition(int position)
{
    postToView([position](ProgressView& view) { view.setPosition(position); });
}

void WorkerLink::stepIt()
{
    postToView([](ProgressView& view) { view.stepIt(); });
}

void WorkerLink::stepBy(int delta)
{
    postToView([delta](ProgressView& view) { view.stepBy(delta); });
}

void WorkerLink::appendLog(const QString& text)
{
    if (log_)
        log_(text);
}

void WorkerLink::storeResult(int result, const QString& detail)
{
    // The token is shared with the window: it outlives every effect.
    postEffect([token = token_, result, detail] {
        if (token && !token->detached()) {
            token->result = result;
            token->detail = detail;
        }
    });
}

void WorkerLink::finish()
{
    postEffect([token = token_, alive = viewAlive_, view = view_] {
        if (!token || token->detached())
            return;
        token->finished = true;
        if (view && alive)
            view->closeProgress();
    });
}

void WorkerLink::showError(const QString& text)
{
    if (!prompter_ || (token_ && token_->detached()))
        return;
    runOnUiThreadAndWait([token = token_, prompter = prompter_, &text] {
        if (prompter && (!token || !token->detached()))
            prompter->showError(text);
    });
}

void WorkerLink::showException(const QString& text)
{
    if (!prompter_ || (token_ && token_->detached()))
        return;
    runOnUiThreadAndWait([token = token_, prompter = prompter_, &text] {
        if (prompter && (!token || !token->detached()))
            prompter->showException(text);
    });
}

bool WorkerLink::askFinished(const QString& text, bool fallback)
{
    bool answer = fallback;
    if (!prompter_ || (token_ && token_->detached()))
        return answer;
    runOnUiThreadAndWait([token = token_, prompter = prompter_, &text, &answer] {
        if (prompter && (!token || !token->detached()))
            answer = prompter->askFinished(text);
    });
    return answer;
}

} // namespace tvx
