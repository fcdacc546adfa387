#pragma once

// Where a dialog opens: at its own place, moved only as far as it must be to
// lie on the screen and off the display window's panes.

#include <QPoint>
#include <QRect>
#include <vector>

class QWidget;

// The top-left corner for a window of that frame: first pulled onto the
// screen, then, when it covers any rectangle to keep clear, shifted the
// least distance (across or down, one way) that clears them all while it
// stays on the screen; when no such shift exists it stays on the screen.
QPoint PlaceOnScreen(QRect frame, QRect screen, const std::vector<QRect>& keep_clear);

// Moves the dialog so (see PlaceOnScreen) before it is shown, keeping the
// display window's panes clear while that window is shown.
void PlaceDialog(QWidget* dialog);
