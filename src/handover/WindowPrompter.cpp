#include "handover/WindowPrompter.h"

namespace tvx {

// For one call, the target's owner and subject are this window's; given back
// as they were afterwards. False when there is no target to lend.
class WindowPrompter::Lend {
public:
    explicit Lend(const WindowPrompter& from) : target_(from.target_)
    {
        if (!target_)
            return;
        subject_ = target_->subject();
        owner_ = target_->owner();
        target_->setSubject(from.subject());
        target_->setOwner(from.owner());
    }
    ~Lend()
    {
        if (!target_)
            return;
        target_->setSubject(subject_);
        target_->setOwner(owner_);
    }
    Lend(const Lend&) = delete;
    Lend& operator=(const Lend&) = delete;

    explicit operator bool() const { return !target_.isNull(); }
    Prompter* operator->() const { return target_.data(); }

private:
    QPointer<Prompter> target_;
    QString subject_;
    QPointer<QObject> owner_;
};

void WindowPrompter::showError(const QString& text)
{
    if (const Lend target(*this); target)
        target->showError(text);
}

bool WindowPrompter::askConfirm(const QString& text)
{
    const Lend target(*this);
    return target && target->askConfirm(text);
}

void WindowPrompter::showFinished(const QString& text)
{
    if (const Lend target(*this); target)
        target->showFinished(text);
}

bool WindowPrompter::askFinished(const QString& text)
{
    const Lend target(*this);
    return target && target->askFinished(text);
}

void WindowPrompter::showException(const QString& text)
{
    if (const Lend target(*this); target)
        target->showException(text);
}

} // namespace tvx
