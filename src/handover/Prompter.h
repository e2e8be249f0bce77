#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

namespace tvx {

// The one seam for every message box the program shows. The windows use a
// message-box implementation; tests inject one that records what would have
// been shown and answers from a script. A QObject, so that a worker's prompt
// for a prompter that is gone is dropped (WorkerLink holds it by QPointer).
class Prompter : public QObject {
public:
    ~Prompter() override = default;

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

    // The module the prompts of one operation are about, shown in a line of
    // its own under the text (empty: none). Set and read on the UI thread,
    // where every prompt is shown.
    void setSubject(const QString& line) { subject_ = line; }
    const QString& subject() const { return subject_; }

    // The window the prompts belong to: a box is its child, shown over it,
    // and the window is the active one again when the box closes. Null: the
    // prompter's own default window.
    void setOwner(QObject* window) { owner_ = window; }
    QObject* owner() const { return owner_; }

private:
    QString subject_;
    QPointer<QObject> owner_;
};

// How a prompt names a module: device name, IP address and MAC, on one line.
inline QString moduleLine(const QString& name, const QString& ip, const QString& mac)
{
    return QStringLiteral("%1  %2  %3").arg(name, ip, mac);
}

// Names a module in every prompt while it lives, then restores the previous one.
class PromptSubject {
public:
    PromptSubject(Prompter& prompter, const QString& line)
        : prompter_(prompter), previous_(prompter.subject())
    {
        prompter_.setSubject(line);
    }
    ~PromptSubject() { prompter_.setSubject(previous_); }
    const QString& line() const { return prompter_.subject(); }
    PromptSubject(const PromptSubject&) = delete;
    PromptSubject& operator=(const PromptSubject&) = delete;

private:
    Prompter& prompter_;
    QString previous_;
};

} // namespace tvx
