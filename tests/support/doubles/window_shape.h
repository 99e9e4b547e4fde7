#pragma once
// The window-shape double: records the regions, drags and taskbar requests.

#include "core/services.h"

#include <QList>
#include <QRect>

namespace platform
{

class FakeWindowShape : public WindowShape
{
public:
    bool blendsWindows() override { return blends; }
    void setEllipticRegion(QWidget *window, int left, int top, int right, int bottom) override;
    void beginCaptionDrag(QWidget *window) override;
    void skipTaskbar(QWidget *window) override;

    bool blends = false;
    QList<QRect> regions; // as (left, top)-(right, bottom)
    int drags = 0;
    int taskbarSkips = 0;
};

inline void FakeWindowShape::setEllipticRegion(QWidget *, int left, int top, int right, int bottom)
{
    regions.append(QRect(QPoint(left, top), QPoint(right, bottom)));
}

inline void FakeWindowShape::beginCaptionDrag(QWidget *)
{
    ++drags;
}

inline void FakeWindowShape::skipTaskbar(QWidget *)
{
    ++taskbarSkips;
}

} // namespace platform
