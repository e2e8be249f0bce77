#include "common/ScriptedPrompter.h"

namespace tvx::test {

void ScriptedPrompter::record(const QString& kind, const QString& caption, const QString& text)
{
    std::lock_guard lock(lock_);
    shown_.append(
        {kind, caption, text, subject(), owner(), owner() ? owner()->objectName() : QString()});
}

bool ScriptedPrompter::nextAnswer()
{
    std::lock_guard lock(lock_);
    if (answers_.empty())
        return true;
    const bool answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void ScriptedPrompter::showError(const QString& text)
{
    record(QStringLiteral("error"), QStringLiteral("Error"), text);
}

bool ScriptedPrompter::askConfirm(const QString& text)
{
    record(QStringLiteral("confirm"), QStringLiteral("Confirm"), text);
    return nextAnswer();
}

void ScriptedPrompter::showFinished(const QString& text)
{
    record(QStringLiteral("finished"), QStringLiteral("Finished"), text);
}

bool ScriptedPrompter::askFinished(const QString& text)
{
    record(QStringLiteral("finishedQuestion"), QStringLiteral("Finished"), text);
    return nextAnswer();
}

void ScriptedPrompter::showException(const QString& text)
{
    record(QStringLiteral("exception"), QString(), text);
}

void ScriptedPrompter::queueAnswer(bool yes)
{
    std::lock_guard lock(lock_);
    answers_.push_back(yes);
}

QList<ScriptedPrompter::Shown> ScriptedPrompter::shown() const
{
    std::lock_guard lock(lock_);
    return shown_;
}

QStringList ScriptedPrompter::texts() const
{
    std::lock_guard lock(lock_);
    QStringList out;
    for (const auto& s : shown_)
        out << s.text;
    return out;
}

int ScriptedPrompter::count() const
{
    std::lock_guard lock(lock_);
    return static_cast<int>(shown_.size());
}

void ScriptedPrompter::clear()
{
    std::lock_guard lock(lock_);
    shown_.clear();
    answers_.clear();
}

} // namespace tvx::test
