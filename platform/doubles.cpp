#include "platform/doubles.h"

namespace platform
{

int FakeMessageBox::show(const QString &prompt, int style, const QString &title)
{
    calls.append({prompt, style, title});
    return answers.isEmpty() ? int(vbOK) : answers.takeFirst();
}

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
