#pragma once
// Test doubles of the platform interfaces: they record what the program asks
// and answer as the test scripts them.

#include "core/services.h"

#include <QList>
#include <QMap>
#include <QRect>
#include <QString>

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>

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
    QList<int> answers; // taken in order; MessageAnswer::Ok once they run out
    std::function<void(const Call &)> onShow;
    QStringList *log = nullptr;
};

class FakeSingleInstance : public SingleInstance
{
public:
    bool previousInstance() override { return running; }
    bool handOver(const QString &path) override
    {
        handedOver << path;
        return reachable;
    }
    void acceptHandOvers(std::function<void(const QString &)> open) override { accept = open; }
    bool running = false;
    bool reachable = true;
    QStringList handedOver;
    std::function<void(const QString &)> accept;
};

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

class FakeFileChooser : public FileChooser
{
public:
    std::optional<QString> choose(const Request &request) override;

    QList<Request> requests;
    QList<std::optional<QString>> answers; // taken in order; cancel once they run out
};

// Pictures by path, as a test puts them there; other paths fail to load.
class FakePictureLoader : public PictureLoader
{
public:
    QImage load(const QString &path) override;
    bool isPicture(const QString &path) override { return pictures.contains(path); }
    qint64 pixelsOf(const QString &path) override
    {
        const QImage picture = pictures.value(path);
        return qint64(picture.width()) * picture.height();
    }

    QMap<QString, QImage> pictures;
    QStringList loaded;
};

// Remembers what it was asked to write (the picture shared, not copied) and answers
// with the result set.
class FakeJpegWriter : public JpegWriter
{
public:
    struct Call {
        QImage picture;
        QString path;
        int32_t quality;
    };
    // A file at the path goes to old's trash first, as the real writer sends it.
    WriteResult write(const QImage &picture, const QString &path, int32_t quality,
                      OldFile old = {}) override;
    WriteResult writeBeside(const QImage &picture, const QString &path, int32_t quality,
                            OldFile old = {}) override
    {
        return write(picture, path, quality, old);
    }
    // Bytes whose count tells picture and quality apart; no JPEG.
    QByteArray encoded(const QImage &picture, int32_t quality,
                       const std::atomic_bool * = nullptr) override
    {
        return picture.isNull()
                   ? QByteArray()
                   : QByteArray(qsizetype(picture.width()) * picture.height() + quality, '\0');
    }

    QList<Call> calls; // in the order written, from whichever thread
    WriteResult result = WriteResult::Written;
    std::mutex lock;
};

// Reads what Qt's own JPEG reader reads.
class FakeJpegDecoder : public JpegDecoder
{
public:
    QImage decode(const QByteArray &file, const std::atomic_bool * = nullptr) override
    {
        ++decodes;
        return QImage::fromData(file, "JPEG").convertToFormat(QImage::Format_RGB888);
    }
    std::atomic_int decodes{0};
};

// A trash that keeps a list; unusable when told so.
class FakeTrash : public Trash
{
public:
    bool keepCopy(const FileInFolder &file) override
    {
        const std::lock_guard hold(lock);
        asked << file.path;
        return usable;
    }
    void takeBack(const FileInFolder &file) override
    {
        const std::lock_guard hold(lock);
        takenBack << file.path;
    }
    std::mutex lock;
    bool usable = true;
    QStringList asked, takenBack;
};

// Programs by name on a pretend search path; starting one records it.
class FakeProgramLauncher : public ProgramLauncher
{
public:
    QString find(const QString &name) override;
    bool start(const QString &path) override;

    QStringList installed;   // names found, as /usr/bin/<name>
    QStringList unstartable; // paths that fail to start
    QStringList asked, started;
};

// The doubles below write what they are asked, in order, into one shared log.
struct Log {
    QStringList *lines = nullptr;
    void operator()(const QString &line) const
    {
        if (lines)
            lines->append(line);
    }
};

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

class FakeClipboard : public Clipboard
{
public:
    QImage picture() override;
    void setPicture(const QImage &picture) override;
    QImage content;
    Log log;
};

// Notes shown are recorded; the user cancels once the windows have painted
// cancelAfterPaints times (never, for 0).
class FakeEventLoop : public EventLoop
{
public:
    void processEvents() override { log(QStringLiteral("processEvents")); }
    void countedWait(int64_t passes, const std::function<bool()> &stopEarly) override
    {
        waits << passes;
        log(QStringLiteral("wait %1").arg(passes));
        if (stopEarly && stopEarly())
            log(QStringLiteral("stopped early"));
    }
    void paintFor(int milliseconds) override
    {
        painted += milliseconds;
        log(QStringLiteral("paint %1").arg(milliseconds));
        if (cancelAfterPaints > 0 && painted >= cancelAfterPaints * milliseconds)
            cancelled = true;
    }
    std::unique_ptr<WaitNote> noteWait(const QString &what) override;
    QList<int64_t> waits;
    int painted = 0;
    QStringList notes;
    int notesUp = 0;
    int cancelAfterPaints = 0;
    bool cancelled = false;
    Log log;
};

// A browser whose window comes up after it has been looked for a number of
// times (never, for 0).
class FakeBrowser : public Browser
{
public:
    FakeBrowser(Log log, ScreenGrabber::Window window, int appearsAfter, std::optional<int> status)
        : log_(log), window_(window), appearsAfter_(appearsAfter), status_(status)
    {
    }
    std::optional<int> exitStatus() override { return status_; }
    void setVisible(bool visible) override;
    void open(const QString &target) override;
    ScreenGrabber::Window window() override
    {
        return appearsAfter_ > 0 && ++looks_ >= appearsAfter_ ? window_ : 0;
    }

private:
    Log log_;
    ScreenGrabber::Window window_;
    int appearsAfter_;
    int looks_ = 0;
    std::optional<int> status_;
};

class FakeBrowserFactory : public BrowserFactory
{
public:
    std::unique_ptr<Browser> create() override;
    bool available = true;
    ScreenGrabber::Window window = 7;
    int appearsAfter = 1;          // 0: a browser that never shows a window
    std::optional<int> exitStatus; // a browser that has ended already
    int windowBound = 60000;
    int windowBoundMs() const override { return windowBound; }
    int created = 0;
    Log log;
};

class FakeInputPrompt : public InputPrompt
{
public:
    QString ask(const QString &prompt, const QString &title, const QString &defaultText) override;
    struct Call {
        QString prompt, title, defaultText;
    };
    QList<Call> calls;
    // The answer: the prefilled text when unset (OK on the untouched field).
    std::optional<QString> answer;
    Log log;
};

class FakeWindowActivator : public WindowActivator
{
public:
    void activate(const QString &title) override { log(QStringLiteral("activate ") + title); }
    Log log;
};

struct FakeServices {
    FakeMessageBox messageBox;
    FakeSingleInstance singleInstance;
    FakeWindowShape windowShape;
    FakeFileChooser fileChooser;
    FakePictureLoader pictureLoader;
    FakeJpegWriter jpegWriter;
    FakeJpegDecoder jpegDecoder;
    FakeTrash trash;
    FakeProgramLauncher programLauncher;
    FakeScreenGrabber screenGrabber;
    FakeClipboard clipboard;
    FakeEventLoop eventLoop;
    FakeBrowserFactory browserFactory;
    FakeInputPrompt inputPrompt;
    FakeWindowActivator windowActivator;
    QStringList log;

    FakeServices();
    FakeServices(const FakeServices &) = delete;
    FakeServices &operator=(const FakeServices &) = delete;
    Services services() { return servicesOf(*this); }
};

} // namespace platform
