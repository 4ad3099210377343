#include "gui/WindowPlacement.h"

#include <algorithm>

QRect CentredClientArea(const QSize& ClientSize, const QMargins& Frame, const QRect& Available) {
    const QSize FrameSize = ClientSize.grownBy(Frame);
    const int Left = Available.left() + std::max(0, (Available.width() - FrameSize.width()) / 2);
    const int Top = Available.top() + std::max(0, (Available.height() - FrameSize.height()) / 2);
    return QRect(QPoint(Left + Frame.left(), Top + Frame.top()), ClientSize);
}
