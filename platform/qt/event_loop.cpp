#include "platform/qt/event_loop.h"

#include "platform/qt/wait_note.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <memory>
#include <thread>

namespace platform
{

void QtEventLoop::processEvents()
{
    QCoreApplication::processEvents();
}

void QtEventLoop::paintFor(int milliseconds)
{
    const PaintingWait held;
    if (QtWaitNote::up()) {
        QtWaitNote::sleep(milliseconds);
        return;
    }
    QEventLoop wait;
    QTimer::singleShot(milliseconds, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
}

void QtEventLoop::countedWait(int64_t passes, const std::function<bool()> &stopEarly)
{
    if (passes <= 0)
        return;
    const std::chrono::nanoseconds time(passes * PassNanoseconds);
    if (!QtWaitNote::up() && !stopEarly) {
        // Sleeps the passes' time: the wait does not burn a core.
        std::this_thread::sleep_for(time);
        return;
    }
    const PaintingWait held;
    QtWaitNote::sleep(int(std::chrono::ceil<std::chrono::milliseconds>(time).count()), stopEarly);
}

std::unique_ptr<WaitNote> QtEventLoop::noteWait(const QString &what)
{
    return std::make_unique<QtWaitNote>(what);
}

} // namespace platform
