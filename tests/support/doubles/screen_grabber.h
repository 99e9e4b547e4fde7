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

inline ScreenGrabber::Screen FakeScreenGrabber::grabScreen()
{
    log(QStringLiteral("grabScreen"));
    if (!screen.isNull())
        return {screen};
    return {screen, refused, timedOut, cancelled};
}

inline ScreenGrabber::Screen FakeScreenGrabber::grabScreenInteractively()
{
    log(QStringLiteral("grabScreenInteractively"));
    return {chosenInDialog, false, chosenInDialog.isNull() && dialogTimedOut};
}

inline QImage takeNext(QList<QImage> &pictures)
{
    if (pictures.isEmpty())
        return {};
    return pictures.size() > 1 ? pictures.takeFirst() : pictures.first();
}

inline QImage FakeScreenGrabber::grabWindow(Window window)
{
    log(QStringLiteral("grabWindow %1").arg(window));
    return takeNext(windowPictures);
}

inline QImage FakeScreenGrabber::grabWindowContent(Window window)
{
    log(QStringLiteral("grabWindowContent %1").arg(window));
    // Unless told otherwise, the content has drawn as the whole window has.
    return windowContents.isEmpty() ? windowPictures.value(0) : takeNext(windowContents);
}

} // namespace platform
