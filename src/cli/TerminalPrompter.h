#pragma once

#include "handover/Prompter.h"

#include <QString>

#include <functional>

namespace tvx::cli {

class TerminalDisplay;

// The message boxes of one run, as lines on standard error with their exact
// texts, prefixed with the run's target in a fleet. Nobody sits at a script
// to answer questions: a confirmation counts as given (the command itself
// was the confirmation) and a closing question as No.
class TerminalPrompter : public Prompter {
public:
    TerminalPrompter(TerminalDisplay& display, QString prefix);

    // Called on the UI thread after an unexpected error of the run's worker
    // was shown: not every worker closes its progress window then.
    void setOnException(std::function<void(const QString&)> call)
    {
        onException_ = std::move(call);
    }
    // Errors shown so far (a search reports its failures only this way).
    int errorsShown() const { return errors_; }

    void showError(const QString& text) override;
    bool askConfirm(const QString& text) override;
    void showFinished(const QString& text) override;
    bool askFinished(const QString& text) override;
    void showException(const QString& text) override;

private:
    void say(const QString& text);

    TerminalDisplay& display_;
    QString prefix_;
    std::function<void(const QString&)> onException_;
    int errors_ = 0;
};

} // namespace tvx::cli
