#include "cli/RunView.h"

#include "cli/TerminalDisplay.h"

#include <algorithm>

namespace tvx::cli {

namespace {
constexpr int kStep = 10;
}

RunView::RunView(TerminalDisplay& display, QString name, int maximum,
                 std::function<void()> onClosed, RunShare share)
    : display_(display), name_(std::move(name)), maximum_(maximum), share_(share),
      onClosed_(std::move(onClosed))
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
    if (share_.endsRun)
        display_.runEnded(name_);
    if (onClosed_)
        onClosed_();
}

void RunView::show()
{
    if (closed_)
        return;
    const double bar = maximum_ > 0 ? double(position_) / maximum_ : 0.0;
    display_.progress(name_, message_, share_.from + (share_.to - share_.from) * bar);
}

} // namespace tvx::cli
