#include "firmware/ProgressPacer.h"

#include "handover/WorkerLink.h"

namespace tvx {

ProgressPacer::ProgressPacer(WorkerLink& link, int barStep, std::chrono::milliseconds interval)
    : link_(link), barStep_(barStep), interval_(interval)
{}

void ProgressPacer::setMessage(const QString& text)
{
    message_ = text;
    hasMessage_ = true;
    postIfDue();
}

void ProgressPacer::stepIt()
{
    ++steps_;
    postIfDue();
}

void ProgressPacer::postIfDue()
{
    if (std::chrono::steady_clock::now() - lastPost_ >= interval_)
        flush();
}

void ProgressPacer::flush()
{
    if (hasMessage_)
        link_.setMessage(message_);
    if (steps_ == 1)
        link_.stepIt();
    else if (steps_ > 1)
        link_.stepBy(steps_ * barStep_);
    hasMessage_ = false;
    steps_ = 0;
    lastPost_ = std::chrono::steady_clock::now();
}

} // namespace tvx
