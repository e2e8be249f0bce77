#include "cli/TerminalPrompter.h"

#include "cli/TerminalDisplay.h"

namespace tvx::cli {

TerminalPrompter::TerminalPrompter(TerminalDisplay& display, QString prefix)
    : display_(display), prefix_(std::move(prefix))
{}

void TerminalPrompter::say(const QString& text)
{
    // The windows' texts break lines with "\r\n"; a terminal needs only "\n".
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    display_.line(QStringLiteral("tarvanix-cli: ") + prefix_ + shown.trimmed());
}

void TerminalPrompter::showError(const QString& text)
{
    ++errors_;
    say(text);
}

bool TerminalPrompter::askConfirm(const QString&)
{
    return true;
}

void TerminalPrompter::showFinished(const QString& text)
{
    say(text);
}

bool TerminalPrompter::askFinished(const QString&)
{
    return false;
}

void TerminalPrompter::showException(const QString& text)
{
    ++errors_;
    say(text);
    if (onException_)
        onException_(text);
}

} // namespace tvx::cli
