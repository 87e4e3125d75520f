#pragma once
// Where a window opens: inside the free area of its screen (the screen less the panels and
// docks), however large the window asked to be and whatever the screen's scale factor.

#include <QMargins>
#include <QRect>

class QWidget;

namespace trelmo {

// The geometry (without the frame) a window asking for `wanted` gets on a screen whose free
// area is `available`, when its frame adds `frame` around it: no larger than the area less
// the frame, and moved (not moved further than needed) so that the window with its frame
// lies inside the area. A window that fits where it asked to be stays there.
QRect fitToScreen(const QRect& wanted, const QRect& available, const QMargins& frame = {});

// The free area of the screen a top-level window opens on (the primary screen for a window
// not shown yet); an empty rectangle when there is no screen.
QRect availableScreenArea(const QWidget* window);

// Fits a top-level window once more when it is first shown and the window system has told
// it its frame (a title bar and borders, unknown before): so that the frame, too, lies inside
// the screen's free area. Later moves and resizes are the user's and stay as they are.
void fitFrameWhenShown(QWidget* window);

// Sets a top-level window's starting geometry: `wanted`, fitted to the free area of its
// screen, and fitted again with its frame when it is first shown.
void placeOnScreen(QWidget* window, const QRect& wanted);

}  // namespace trelmo
