#include "app/WorkerLink.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace tvx {

WorkerLink::WorkerLink(std::shared_ptr<RunToken> token, ProgressView* view, Prompter* prompter,
                       LogFn log, int barMaximum)
    : token_(std::move(token)), view_(view), prompter_(prompter), log_(std::move(log)),
      barMaximum_(barMaximum)
{
}

static bool onUiThread()
{
    auto* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void WorkerLink::postToUiThread(std::function<void()> effect)
{
    auto* app = QCoreApplication::instance();
    if (!app) {
        effect();
        return;
    }
    // One queue for every effect of every worker keeps them in issue order.
    QMetaObject::invokeMethod(app, std::move(effect), Qt::QueuedConnection);
}

void WorkerLink::runOnUiThreadAndWait(const std::function<void()>& call)
{
    if (onUiThread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), call, Qt::BlockingQueuedConnection);
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

void WorkerLink::storeResult(int result)
{
    post([token = token_, result] {
        if (token)
            token->result = result;
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
