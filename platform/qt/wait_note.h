#pragma once
// The note shown while the program waits on the desktop or on a browser, and
// the waits that run under it.

#include "core/services.h"

#include <QEventLoop>

#include <functional>

namespace platform
{

class QtWaitNote : public WaitNote
{
public:
    enum class Screenshots {
        // The note may show in a picture of the screen taken meanwhile.
        Allowed,
        // Once the desktop takes the focus (its question, its screenshot
        // dialog), the note stays hidden until this wait ends: the desktop
        // may take the screen as soon as its dialog is gone.
        KeepOut,
    };
    explicit QtWaitNote(const QString &what, Screenshots screenshots = Screenshots::Allowed);
    ~QtWaitNote() override;
    QtWaitNote(const QtWaitNote &) = delete;
    QtWaitNote &operator=(const QtWaitNote &) = delete;

    bool cancelled() const override;

    enum class End { Done, TimedOut, Cancelled };
    // Lets events run (input other than the note's dropped) until done says
    // true, the bound runs out or the user cancels. Whatever should end the
    // wait early quits loop, or done is asked every pollMs.
    static End waitUntil(QEventLoop &loop, int boundMs, const std::function<bool()> &done,
                         int pollMs = 0);
    // Waits the time, or until stopEarly says true; false when the user cancelled.
    static bool sleep(int milliseconds, const std::function<bool()> &stopEarly = {});
    // Waits until the user is back at the program, within the bound: its
    // windows get the focus back or input again (what the desktop's own
    // modal dialog, while it is up, keeps from them). That input is dropped.
    // done, or loop quit, ends it early too.
    static void untilUserIsBack(QEventLoop &loop, int boundMs, const std::function<bool()> &done);

    // Whether a note is up (shown or not yet).
    static bool up();
    // The note's own window while it is shown (tests press its button).
    static QWidget *window();
    // How long a wait goes before its note shows: a quick answer flashes nothing.
    static constexpr int ShowAfterMs = 400;
};

} // namespace platform
