#pragma once

#include "handover/Prompter.h"

#include <QPointer>

namespace tvx {

// The prompts of one window that is not the main window (a configuration
// window): every box goes through the program's prompter, owned by that
// window and naming that window's module, whatever the main window's prompts
// name meanwhile. Shared with the workers the window starts, so a worker that
// outlives the window still has a prompter; its boxes then have no owner.
class WindowPrompter : public Prompter {
public:
    WindowPrompter(Prompter* target, QObject* window, const QString& module) : target_(target)
    {
        setSubject(module);
        setOwner(window);
    }

    void showError(const QString& text) override;
    bool askConfirm(const QString& text) override;
    void showFinished(const QString& text) override;
    bool askFinished(const QString& text) override;
    void showException(const QString& text) override;

private:
    class Lend;

    // None given, or gone: nothing is shown and every question is answered
    // No, the answer that changes nothing.
    QPointer<Prompter> target_;
};

} // namespace tvx
