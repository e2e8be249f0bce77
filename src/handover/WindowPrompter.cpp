#include "handover/WindowPrompter.h"

namespace tvx {

class WindowPrompter::Lend {
public:
    explicit Lend(const WindowPrompter& from)
        : target_(from.target_), subject_(target_->subject()), owner_(target_->owner())
    {
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

private:
    QPointer<Prompter> target_;
    QString subject_;
    QPointer<QObject> owner_;
};

void WindowPrompter::showError(const QString& text)
{
    if (!target_)
        return;
    const Lend lend(*this);
    target_->showError(text);
}

bool WindowPrompter::askConfirm(const QString& text)
{
    if (!target_)
        return false;
    const Lend lend(*this);
    return target_->askConfirm(text);
}

void WindowPrompter::showFinished(const QString& text)
{
    if (!target_)
        return;
    const Lend lend(*this);
    target_->showFinished(text);
}

bool WindowPrompter::askFinished(const QString& text)
{
    if (!target_)
        return false;
    const Lend lend(*this);
    return target_->askFinished(text);
}

void WindowPrompter::showException(const QString& text)
{
    if (!target_)
        return;
    const Lend lend(*this);
    target_->showException(text);
}

} // namespace tvx
