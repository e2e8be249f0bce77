#pragma once

#include <QString>

namespace tvx {

// The one seam for every message box the program shows. The windows use a
// message-box implementation; tests inject one that records what would have
// been shown and answers from a script.
class Prompter {
public:
    virtual ~Prompter() = default;

    // Caption "Error", warning icon, OK.
    virtual void showError(const QString& text) = 0;
    // Caption "Confirm", question icon, Yes and No. True unless the answer is No.
    virtual bool askConfirm(const QString& text) = 0;
    // Caption "Finished", no icon, OK.
    virtual void showFinished(const QString& text) = 0;
    // Caption "Finished", no icon, Yes and No. True for Yes.
    virtual bool askFinished(const QString& text) = 0;
    // The standard display of an exception that escaped an event handler or a worker.
    virtual void showException(const QString& text) = 0;
};

} // namespace tvx
