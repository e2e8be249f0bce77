#pragma once

#include "handover/ProgressView.h"
#include "handover/Prompter.h"
#include "handover/RunToken.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

namespace tvx {

// The worker's side of the hand-over to the UI thread. Every effect is queued
// to the UI thread and applied there in the order issued, and each is bound to
// the object it acts on: the progress view's effects run only while the view
// lives, the prompts only while the prompter lives, and other effects only
// while the link's context (its view, else its prompter) lives; an effect for
// one that is gone is dropped. The view and the prompter are therefore
// QObjects; the link holds them by QPointer, made on the UI thread where the
// link is built. Once the window has detached the run (the user cancelled),
// effects on the progress window and on the result are dropped; log lines and
// effects posted with postAlways are not. Message boxes block the worker until
// dismissed; a detached run gets none.
class WorkerLink {
public:
    using LogFn = std::function<void(const QString&)>;

    WorkerLink() = default;
    // UI thread. `view` must be a QObject (a window, or a view of the CLI's).
    WorkerLink(std::shared_ptr<RunToken> token, ProgressView* view, Prompter* prompter, LogFn log,
               int barMaximum);

    bool stopRequested() const { return token_ && token_->stopRequested(); }
    int barMaximum() const { return barMaximum_; }
    const std::shared_ptr<RunToken>& token() const { return token_; }

    void setMessage(const QString& text);
    void setPosition(int position);
    void stepIt();
    void stepBy(int delta);
    void appendLog(const QString& text);
    // Stores the run's result in its token (dropped once detached), with what
    // the worker has to say of a failure beyond its code.
    void storeResult(int result, const QString& detail = {});
    // Closes the progress window (dropped once detached).
    void finish();
    void showError(const QString& text);
    void showException(const QString& text);
    // A question the worker waits on; a detached run gets `fallback`.
    bool askFinished(const QString& text, bool fallback);

    // Any other window effect (dropped once detached), or one that must never
    // be dropped while its context lives (the search clearing its busy flag).
    void post(std::function<void()> effect);
    void postAlways(std::function<void()> effect);
    // Runs `call` on the UI thread and waits for it, unless the run is
    // detached or its context is gone: whether it ran.
    bool callAndWait(const std::function<void()>& call);

    // Any thread: `effect` runs on the UI thread, in the one queue of every
    // worker's effects, while `context` lives (made on the UI thread).
    static void postToUiThread(const QPointer<const QObject>& context,
                               std::function<void()> effect);
    // UI thread: applies the effects still queued, in their order.
    static void applyPendingEffects();

    // Kept alive for as long as the worker holds this link (its whole run):
    // what the run refers to, such as the module it works on.
    void keepWhileRunning(std::shared_ptr<void> what) { kept_ = std::move(what); }

private:
    // Runs `call` on the UI thread and waits (at once when already there).
    static void runOnUiThreadAndWait(const std::function<void()>& call);
    void postToView(std::function<void(ProgressView&)> effect);

    std::shared_ptr<RunToken> token_;
    ProgressView* view_ = nullptr;
    QPointer<const QObject> viewAlive_;
    QPointer<Prompter> prompter_;
    QPointer<const QObject> context_;
    bool bound_ = false; // a context was given: its effects need it alive
    LogFn log_;
    int barMaximum_ = 100;
    std::shared_ptr<void> kept_;
};

} // namespace tvx
