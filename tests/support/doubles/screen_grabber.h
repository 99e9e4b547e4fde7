#pragma once
// The screen-grabber double: screens and windows as the test draws them.

#include "core/services.h"
#include "doubles/log.h"

#include <QColor>
#include <QList>
#include <algorithm>

namespace platform
{

// A window as a browser draws it: a title band over a page of one colour.
inline QImage drawnWindow(int w, int h, QColor page = Qt::blue)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(page);
    for (int y = 0; y < std::min(h, 20); ++y)
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, QColor(60, 60, 60));
    return img;
}

// A screen of the given pictures; a null one stands for a screen that cannot be read.
class FakeScreenGrabber : public ScreenGrabber
{
public:
    Screen grabScreen() override;
    Screen grabScreenInteractively() override;
    bool seesWindows() override { return windows; }
    Window activeWindow() override { return active; }
    // Each call takes the next picture of its list; the last one stays.
    QImage grabWindow(Window window) override;
    QImage grabWindowContent(Window window) override;

    QImage screen, chosenInDialog;
    bool refused = false;
    bool timedOut = false, cancelled = false; // the screen's wait
    bool dialogTimedOut = false;
    bool windows = true;
    Window active = 0;
    QList<QImage> windowPictures{drawnWindow(640, 480)}, windowContents;
    Log log;
};

} // namespace platform
