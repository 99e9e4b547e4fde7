#include "doubles/screen_grabber.h"

namespace platform
{

ScreenGrabber::Screen FakeScreenGrabber::grabScreen()
{
    log(QStringLiteral("grabScreen"));
    if (!screen.isNull())
        return {screen};
    return {screen, refused, timedOut, cancelled};
}

ScreenGrabber::Screen FakeScreenGrabber::grabScreenInteractively()
{
    log(QStringLiteral("grabScreenInteractively"));
    return {chosenInDialog, false, chosenInDialog.isNull() && dialogTimedOut};
}

namespace
{
QImage takeNext(QList<QImage> &pictures)
{
    if (pictures.isEmpty())
        return {};
    return pictures.size() > 1 ? pictures.takeFirst() : pictures.first();
}
} // namespace

QImage FakeScreenGrabber::grabWindow(Window window)
{
    log(QStringLiteral("grabWindow %1").arg(window));
    return takeNext(windowPictures);
}

QImage FakeScreenGrabber::grabWindowContent(Window window)
{
    log(QStringLiteral("grabWindowContent %1").arg(window));
    // Unless told otherwise, the content has drawn as the whole window has.
    return windowContents.isEmpty() ? windowPictures.value(0) : takeNext(windowContents);
}

} // namespace platform
