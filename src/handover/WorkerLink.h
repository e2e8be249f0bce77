#pragma once

#include "handover/ProgressView.h"
#include "handover/Prompter.h"
#include "handover/RunToken.h"

#include <QString>

#include <functional>
#include <memory>

namespace tvx {

// The worker's side of the hand-over to the UI thread. Every effect is queued
// to the UI thread and applied there in the order issued. Once the window has
// detached the run (the user cancelled), effects on the progress window and on
// the result are dropped; log lines and effects posted with postAlways are not.
// Message boxes block the worker until dismissed; a detached run gets none.
class WorkerLink {
public:
    using LogFn = std::function<void(const QString&)>;

    WorkerLink() = default;
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
    // be dropped (the search clearing its busy flag).
    void post(std::function<void()> effect);
    void postAlways(std::function<void()> effect);

    // Runs `call` on the UI thread and waits for it (immediately when already
    // there). Used for the prompts.
    static void runOnUiThreadAndWait(const std::function<void()>& call);
    static void postToUiThread(std::function<void()> effect);

    // Kept alive for as long as the worker holds this link (its whole run):
    // what the run refers to, such as the module it works on.
    void keepWhileRunning(std::shared_ptr<void> what) { kept_ = std::move(what); }

private:
    std::shared_ptr<RunToken> token_;
    ProgressView* view_ = nullptr;
    Prompter* prompter_ = nullptr;
    LogFn log_;
    int barMaximum_ = 100;
    std::shared_ptr<void> kept_;
};

} // namespace tvx
