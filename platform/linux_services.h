#pragma once
// The Linux (X11, or XWayland) implementations of the platform interfaces.

#include "platform/desktop_trash.h"
#include "platform/hand_over.h"
#include "platform/linux_capture.h"
#include "platform/picture_checks.h"
#include "platform/screen_grabbers.h"
#include "platform/services.h"

#include <QObject>
#include <QPoint>
#include <QPointer>

#include <memory>

namespace platform
{

class QtMessageBox : public MessageBox
{
public:
    int show(const QString &prompt, int style, const QString &title) override;
};

// A lock per user and display session, in the user's runtime folder (or a
// private folder of the user's when there is none). The kernel releases it
// when its owner ends in any way, so a crashed instance never blocks the next.
// Files go from a later start to the running one over a local socket beside
// the lock, in the same private folder (hand_over.h); only a socket of this
// user's is spoken to or replaced there.
class LockFileInstance : public SingleInstance
{
public:
    LockFileInstance() = default;
    ~LockFileInstance() override;
    LockFileInstance(const LockFileInstance &) = delete;
    LockFileInstance &operator=(const LockFileInstance &) = delete;
    bool previousInstance() override;
    bool handOver(const QString &path) override;
    void acceptHandOvers(std::function<void(const QString &)> open) override;
    // Where the lock lives; empty when no private folder could be made.
    static QString lockPath();
    // The hand-over socket beside it.
    static QString socketPath();

private:
    int fd_ = -1;
    std::unique_ptr<hand_over::Server> server_;
};

class X11WindowShape : public QObject, public WindowShape
{
public:
    X11WindowShape();
    // Where a compositor runs: X11 with one named by _NET_WM_CM_S0, or Wayland.
    bool blendsWindows() override;
    // Where windows are blended, only the clicks are shaped (the X input
    // shape, or Wayland's input region): the edge the window draws stays smooth.
    void setEllipticRegion(QWidget *window, int left, int top, int right, int bottom) override;
    // On Wayland the compositor moves the window.
    void beginCaptionDrag(QWidget *window) override;
    void skipTaskbar(QWidget *window) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> dragged_;
    QPoint lastPress_; // where the last button press happened, screen pixels
    QPoint pressPointer_;
    QPoint pressWindow_;
};

// Qt's own texts (its dialogs' buttons and labels) in Japanese, whatever the
// locale; false when Qt's translations are not installed.
bool installJapaneseQtTexts();
// Qt keeps no settings file of its own for this program.
void keepNoSettings();

// Qt's own file dialog (the same on every desktop), with the design's
// behaviour: no overwrite question, no default suffix, typed names of files
// that do not exist are accepted.
class QtFileChooser : public FileChooser
{
public:
    std::optional<QString> choose(const Request &request) override;
};

// Qt's image readers, the format taken from the content; pictures larger than
// a 100-megapixel photo are refused from their header, before any decoding.
class QtPictureLoader : public PictureLoader
{
public:
    QtPictureLoader();
    QImage LoadPicture(const QString &path) override;
    bool isPicture(const QString &path) override;
    qint64 pixelsOf(const QString &path) override;
    // A picture from any random-access device, from its start (a file, the clipboard's bytes),
    // under the same limits; null when it holds none or breaks a limit. The format is taken from
    // the content when none is named.
    static QImage decode(QIODevice &device, const QByteArray &format = {});

    static constexpr qint64 MaxPixels = 120'000'000;
    static picture_checks::Limits limits();

private:
    // decode, on a thread of its own when called from the windows' thread.
    static QImage decodePainting(QIODevice &device);
};

// Programs found on PATH, started without a shell.
class PathProgramLauncher : public ProgramLauncher
{
public:
    QString find(const QString &name) override;
    bool start(const QString &path) override;
};

} // namespace platform
