#pragma once

#include "handover/Prompter.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <deque>
#include <mutex>

namespace tvx::test {

// Records every prompt instead of showing it and answers questions from a
// script (default: Yes). Thread-safe, as workers prompt through the UI thread.
class ScriptedPrompter : public Prompter {
public:
    struct Shown {
        QString kind; // "error", "confirm", "finished", "finishedQuestion", "exception"
        QString caption; // as the real box would show it
        QString text;
        QString subject; // the module named in a line of its own, if any
        QPointer<QObject> owner; // the window the box would belong to; null: the default
        QString ownerName; // that window's object name, kept after the window is gone
    };

    void showError(const QString& text) override;
    bool askConfirm(const QString& text) override;
    void showFinished(const QString& text) override;
    bool askFinished(const QString& text) override;
    void showException(const QString& text) override;

    // Next answers to questions, in order; when empty, questions get Yes.
    void queueAnswer(bool yes);

    QList<Shown> shown() const;
    QStringList texts() const;
    int count() const;
    void clear();

private:
    bool nextAnswer();
    void record(const QString& kind, const QString& caption, const QString& text);

    mutable std::mutex lock_;
    QList<Shown> shown_;
    std::deque<bool> answers_;
};

} // namespace tvx::test
