#include "platform/WindowPlacement.h"

#include <algorithm>

namespace tvx::placement {

namespace {
// The top-left point that keeps a frame of `size` at `at` inside `area`, the
// area's top-left where the frame is larger than it.
QPoint clampInto(QPoint at, const QSize& size, const QRect& area)
{
    const int x =
        std::max(area.left(), std::min(at.x(), area.left() + area.width() - size.width()));
    const int y =
        std::max(area.top(), std::min(at.y(), area.top() + area.height() - size.height()));
    return {x, y};
}
} // namespace

QRect fitWindow(const QRect& wanted, const QRect& area, const QMargins& frame)
{
    const QSize frameExtra(frame.left() + frame.right(), frame.top() + frame.bottom());
    const QSize size = wanted.size().boundedTo(area.size() - frameExtra).expandedTo(QSize(1, 1));
    // The frame's top-left is the window's position, as move() takes it.
    const QPoint at = clampInto(wanted.topLeft(), size + frameExtra, area);
    return {at, size};
}

QPoint centreOver(const QRect& over, const QSize& frameSize, const QRect& area)
{
    const QPoint centred(over.left() + (over.width() - frameSize.width()) / 2,
                         over.top() + (over.height() - frameSize.height()) / 2);
    return clampInto(centred, frameSize, area);
}

QPoint cascadeAfter(const QPoint& last, const QSize& frameSize, const QRect& area, int step)
{
    QPoint next = last + QPoint(step, step);
    if (next.x() + frameSize.width() > area.left() + area.width())
        next.setX(area.left());
    if (next.y() + frameSize.height() > area.top() + area.height())
        next.setY(area.top());
    return clampInto(next, frameSize, area);
}

} // namespace tvx::placement
