#include "doubles.h"

#include "core/runtime.h"
#include "platform/files/file_names.h"

#include <fcntl.h>

namespace platform
{

int FakeMessageBox::show(const QString &prompt, int style, const QString &title)
{
    calls.append({prompt, style, title});
    if (log)
        log->append(QStringLiteral("showMessage ") + prompt);
    if (onShow)
        onShow(calls.last());
    return answers.isEmpty() ? int(MessageAnswer::Ok) : answers.takeFirst();
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

std::optional<QString> FakeFileChooser::choose(const Request &request)
{
    requests.append(request);
    return answers.isEmpty() ? std::nullopt : answers.takeFirst();
}

QImage FakePictureLoader::load(const QString &path)
{
    loaded.append(path);
    if (!pictures.contains(path))
        throw rt::RuntimeError(rt::ErrInvalidPicture);
    return pictures.value(path);
}

WriteResult FakeJpegWriter::write(const QImage &picture, const QString &path, int32_t quality,
                                  OldFile old)
{
    const FileInFolder file{AT_FDCWD, nameBytes(path), path};
    const bool kept = old.keepIn && kindOf(path).regular && old.keepIn->keepCopy(file);
    if (old.keepIn && kindOf(path).regular && !kept && !old.mayLose)
        return WriteResult::NotKept;
    {
        const std::lock_guard hold(lock);
        calls.append({picture, path, quality});
    }
    if (kept && result != WriteResult::Written)
        old.keepIn->takeBack(file);
    return result;
}

QString FakeProgramLauncher::find(const QString &name)
{
    asked << name;
    return installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
}

bool FakeProgramLauncher::start(const QString &path)
{
    if (unstartable.contains(path))
        return false;
    started << path;
    return true;
}

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
class FakeWaitNote : public WaitNote
{
public:
    explicit FakeWaitNote(FakeEventLoop &loop) : loop_(loop) { ++loop_.notesUp; }
    ~FakeWaitNote() override { --loop_.notesUp; }
    FakeWaitNote(const FakeWaitNote &) = delete;
    FakeWaitNote &operator=(const FakeWaitNote &) = delete;
    bool cancelled() const override { return loop_.cancelled; }

private:
    FakeEventLoop &loop_;
};
} // namespace

std::unique_ptr<WaitNote> FakeEventLoop::noteWait(const QString &what)
{
    notes << what;
    log(QStringLiteral("note ") + what);
    return std::make_unique<FakeWaitNote>(*this);
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

void FakeClipboard::setPicture(const QImage &p)
{
    log(QStringLiteral("setPicture %1x%2").arg(p.width()).arg(p.height()));
    content = p;
}

QImage FakeClipboard::picture()
{
    log(QStringLiteral("picture"));
    return content;
}

void FakeBrowser::setVisible(bool visible)
{
    log_(QStringLiteral("Visible %1").arg(visible));
}

void FakeBrowser::open(const QString &target)
{
    log_(QStringLiteral("open ") + target);
}

std::unique_ptr<Browser> FakeBrowserFactory::create()
{
    log(QStringLiteral("create"));
    if (!available)
        throw rt::RuntimeError(rt::ErrCantCreateObject);
    ++created;
    return std::make_unique<FakeBrowser>(log, window, appearsAfter, exitStatus);
}

QString FakeInputPrompt::ask(const QString &prompt, const QString &title,
                             const QString &defaultText)
{
    calls.append({prompt, title, defaultText});
    log(QStringLiteral("ask"));
    return answer.value_or(defaultText);
}

FakeServices::FakeServices()
{
    messageBox.log = &log;
    for (Log *l : {&screenGrabber.log, &clipboard.log, &eventLoop.log, &browserFactory.log,
                   &inputPrompt.log, &windowActivator.log})
        l->lines = &log;
}

} // namespace platform
