#pragma once
// Where the window goes on the screen.
#include <QMargins>
#include <QRect>
#include <QSize>

// The client area of a window of ClientSize whose frame (title bar and borders, Frame around the client
// area) is centred in Available. A frame larger than Available keeps its top-left corner, and so its
// title bar, inside it.
QRect CentredClientArea(const QSize& ClientSize, const QMargins& Frame, const QRect& Available);
