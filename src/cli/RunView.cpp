#include "cli/RunView.h"

#include "cli/TerminalDisplay.h"

#include <algorithm>

namespace tvx::cli {

namespace {
constexpr int kStep = 10;
}

RunView::RunView(TerminalDisplay& display, QString name, int maximum,
                 std::function<void()> onClosed)
    : display_(display), name_(std::move(name)), maximum_(maximum), onClosed_(std::move(onClosed))
{}

void RunView::prepare()
{
    message_.clear();
    position_ = 10;
    stepIt();
}

void RunView::setMessage(const QString& text)
{
    message_ = text;
    show();
}

void RunView::setPosition(int position)
{
    position_ = std::clamp(position, 0, maximum_);
    show();
}

void RunView::stepIt()
{
    stepBy(kStep);
}

void RunView::stepBy(int delta)
{
    position_ = static_cast<int>(
        std::clamp<long long>(static_cast<long long>(position_) + delta, 0, maximum_));
    show();
}

void RunView::closeProgress()
{
    if (closed_)
        return;
    closed_ = true;
    display_.runEnded(name_);
    if (onClosed_)
        onClosed_();
}

void RunView::show()
{
    if (!closed_)
        display_.progress(name_, message_, position_, maximum_);
}

} // namespace tvx::cli
