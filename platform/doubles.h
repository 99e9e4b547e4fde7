#pragma once
// Test doubles of the platform interfaces: they record what the program asks
// and answer as the test scripts them.

#include "platform/services.h"

#include <QList>
#include <QRect>
#include <QString>

namespace platform
{

class FakeMessageBox : public MessageBox
{
public:
    struct Call {
        QString prompt;
        int style;
        QString title;
    };
    int show(const QString &prompt, int style, const QString &title) override;

    QList<Call> calls;
    QList<int> answers; // taken in order; vbOK once they run out
};

class FakeSingleInstance : public SingleInstance
{
public:
    bool previousInstance() override { return running; }
    bool running = false;
};

class FakeWindowShape : public WindowShape
{
public:
    void setEllipticRegion(QWidget *window, int left, int top, int right, int bottom) override;
    void beginCaptionDrag(QWidget *window) override;
    void skipTaskbar(QWidget *window) override;

    QList<QRect> regions; // as (left, top)-(right, bottom)
    int drags = 0;
    int taskbarSkips = 0;
};

struct FakeServices {
    FakeMessageBox messageBox;
    FakeSingleInstance singleInstance;
    FakeWindowShape windowShape;
    Services services() { return {&messageBox, &singleInstance, &windowShape}; }
};

} // namespace platform
