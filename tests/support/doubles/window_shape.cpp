#include "doubles/window_shape.h"

namespace platform
{

void FakeWindowShape::setEllipticRegion(QWidget *, int left, int top, int right, int bottom)
{
    regions.append(QRect(QPoint(left, top), QPoint(right, bottom)));
}

void FakeWindowShape::beginCaptionDrag(QWidget *)
{
    ++drags;
}

void FakeWindowShape::skipTaskbar(QWidget *)
{
    ++taskbarSkips;
}

} // namespace platform
