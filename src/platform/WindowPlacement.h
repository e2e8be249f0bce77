#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace tvx {

// Where top-level windows go on a screen: the geometry alone, so that it can
// be checked for any screen and scale without one. `area` is a screen's
// available geometry; a window's frame is its client area with `frame`
// (the title bar and borders the window system adds) around it.
namespace placement {

// Room for a title bar and borders before the window system has said how
// large they are (which it does only once the window is shown).
inline const QMargins kFrameAllowance(8, 32, 8, 8);

// The client rectangle of a window that wants `wanted`: as large as that, but
// no larger than fits `area` with its frame, and moved as little as needed so
// that the frame lies inside `area`.
QRect fitWindow(const QRect& wanted, const QRect& area, const QMargins& frame = kFrameAllowance);

// The top-left point of a frame of `frameSize` centred over `over` (another
// window's frame), moved inside `area` where it would stick out.
QPoint centreOver(const QRect& over, const QSize& frameSize, const QRect& area);

// The top-left point of the next window of a cascade whose last window's
// frame begins at `last`: `step` further right and down, starting again at the
// area's left or top edge where the frame would leave `area`.
QPoint cascadeAfter(const QPoint& last, const QSize& frameSize, const QRect& area, int step);

} // namespace placement
} // namespace tvx
