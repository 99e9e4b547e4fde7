#pragma once
// The narrow interfaces through which the program's logic reaches the
// platform, each named by what it does. Each has a Linux implementation
// in platform/ and a test double in tests/support/doubles/.

#include <QImage>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace platform
{

// A message box's buttons, icon and default button, combined with |.
struct MessageStyle {
    enum : int {
        OkOnly = 0,
        OkCancel = 1,
        YesNo = 4,
        Critical = 16,
        Question = 32,
        Warning = 48,
        Information = 64,
        SecondButtonDefault = 256,
    };
};
// The button the user left a message box by.
struct MessageAnswer {
    enum : int { Ok = 1, Cancel = 2, Yes = 6, No = 7 };
};

class MessageBox
{
public:
    virtual ~MessageBox() = default;
    // Modal; returns the answer. The title is never empty here.
    virtual int show(const QString &prompt, int style, const QString &title) = 0;
};

class SingleInstance
{
public:
    virtual ~SingleInstance() = default;
    // Whether another instance of the program runs in this user's display session.
    virtual bool previousInstance() = 0;
    // Hands a file to the instance that runs, which opens it; false when it
    // cannot be reached.
    virtual bool handOver(const QString &path) = 0;
    // From now on, files that later starts hand over go to open.
    virtual void acceptHandOvers(std::function<void(const QString &)> open) = 0;
};

// The elliptical, title-less window: its shape, its drag, its task bar entry.
class WindowShape
{
public:
    virtual ~WindowShape() = default;
    // Whether a compositor blends windows with what is behind them: a window
    // with a see-through background then draws its own smooth edge. Asked
    // before the window is first made.
    virtual bool blendsWindows() = 0;
    // The ellipse inscribed in (left, top)-(right, bottom), window pixels;
    // outside it the window takes no clicks, and where windows are not
    // blended it draws nothing either.
    virtual void setEllipticRegion(QWidget *window, int left, int top, int right, int bottom) = 0;
    // Moves the window with the pointer until the left button is released,
    // as a press on a title bar would.
    virtual void beginCaptionDrag(QWidget *window) = 0;
    // Keeps the window off the task bar (and pager).
    virtual void skipTaskbar(QWidget *window) = 0;
};

// A modal choice of one file.
class FileChooser
{
public:
    struct Request {
        bool save = false;
        QStringList descriptions;    // shown as given, one an entry
        QList<QStringList> patterns; // each entry's patterns, matched case-insensitively
        int selected = 0;            // 0-based entry selected at opening
        QString startPath;           // the name the dialog starts with; may be empty
    };
    virtual ~FileChooser() = default;
    // The chosen full path; nothing when the user cancelled.
    virtual std::optional<QString> choose(const Request &request) = 0;
};

// Reads picture files, telling the format from the content.
class PictureLoader
{
public:
    virtual ~PictureLoader() = default;
    // The picture, upright; raises a run-time error when the file is missing
    // or holds no picture this loader reads.
    virtual QImage load(const QString &path) = 0;
    // Whether the file's content is a picture this loader reads (header only).
    virtual bool isPicture(const QString &path) = 0;
    // About how many pixels the picture has, from its header (or its size
    // where the header does not say); 0 where nothing is known.
    virtual qint64 pixelsOf(const QString &path) = 0;
};

// What a write of a file comes to; the numbers are those the program has
// always reported.
enum class WriteResult : int16_t {
    Written = 0,
    CannotOpen = 1,
    CannotWrite = 2,
    FormatError = 3,
    OutOfMemory = 4,
    // The file that was there is there still: the trash could not keep it.
    NotKept = 5,
};

// A file named in a folder that was opened once: whatever is done to it goes
// through the folder's descriptor, so a folder renamed or replaced by a link
// meanwhile changes nothing.
struct FileInFolder {
    int folder = -1; // an open descriptor of the folder (AT_FDCWD: the current one)
    QByteArray name; // the file's name in it, as the system spells it
    QString path;    // the full path, as it is recorded and shown
};

class Trash;

// What becomes of the file a write replaces.
struct OldFile {
    // Its content goes there, just before the new file takes its name.
    Trash *keepIn = nullptr;
    // Replaced even where the trash cannot keep it.
    bool mayLose = false;
};

// Writes a picture as a JPEG file.
class JpegWriter
{
public:
    virtual ~JpegWriter() = default;
    // Quality 0 to 100 (0 writes as 1, the lowest a JPEG has). A file that
    // was there goes as old says; NotKept leaves it as it was.
    virtual WriteResult write(const QImage &picture, const QString &path, int32_t quality,
                              OldFile old = {}) = 0;
    // The same file for callers that write several pictures at once, each on
    // its own thread: they take no turn with other encodings and nothing is
    // remembered for a later write.
    virtual WriteResult writeBeside(const QImage &picture, const QString &path, int32_t quality,
                                    OldFile old = {}) = 0;
    // The file write would put there now, as its bytes: a write of the same
    // picture at the same quality writes these very bytes. Empty when it
    // would fail or when abandoned became true before the end. Safe to call
    // from any thread.
    virtual QByteArray encoded(const QImage &picture, int32_t quality,
                               const std::atomic_bool *abandoned = nullptr) = 0;
    // Its size in bytes, or -1.
    qint64 encodedSize(const QImage &picture, int32_t quality,
                       const std::atomic_bool *abandoned = nullptr)
    {
        const QByteArray file = encoded(picture, quality, abandoned);
        return file.isEmpty() ? -1 : file.size();
    }
};

// Reads back what the JPEG writer made, to show how the file will look.
class JpegDecoder
{
public:
    virtual ~JpegDecoder() = default;
    // The picture a JPEG file of these bytes shows, three bytes a pixel
    // (QImage::Format_RGB888); null when they hold no JPEG it reads or when
    // abandoned became true before the end. Safe to call from any thread.
    virtual QImage decode(const QByteArray &file, const std::atomic_bool *abandoned = nullptr) = 0;
};

// The desktop's trash, where a replaced file's old content can be restored
// from. Callers on several threads may use it at once.
class Trash
{
public:
    virtual ~Trash() = default;
    // Puts the file's present content in the trash, restorable to its path;
    // the file itself stays. False where no trash can be used for it.
    virtual bool keepCopy(const FileInFolder &file) = 0;
    // Removes the copy the last keepCopy of the file made: the file was not
    // replaced after all.
    virtual void takeBack(const FileInFolder &file) = 0;
};

// Finds and starts other programs, detached: they outlive this one.
class ProgramLauncher
{
public:
    virtual ~ProgramLauncher() = default;
    // The program's full path when it is found on the search path, else empty.
    virtual QString find(const QString &name) = 0;
    // False when it cannot be started.
    virtual bool start(const QString &path) = 0;
};

// Pictures of what is on screen; null where the screen cannot be read.
class ScreenGrabber
{
public:
    // A top-level window as the window system names it; 0 for none.
    using Window = quint64;
    struct Screen {
        QImage picture;
        // The desktop said no: the user, or a choice it keeps for this program.
        bool refused = false;
        // The desktop did not answer within the bound; its question, if it
        // asked one, is no longer up when this comes back.
        bool timedOut = false;
        // The user left the wait.
        bool cancelled = false;
    };
    virtual ~ScreenGrabber() = default;
    // The whole screen, every monitor, without asking the user anything the
    // desktop does not insist on.
    virtual Screen grabScreen() = 0;
    // The whole screen or a part of it, through the desktop's own screenshot
    // dialog; no picture where there is none or the user cancelled it.
    virtual Screen grabScreenInteractively() = 0;
    // Whether windows can be told apart here at all.
    virtual bool seesWindows() = 0;
    virtual Window activeWindow() = 0;
    // The window as the user sees it: its frame, no shadow around it.
    virtual QImage grabWindow(Window window) = 0;
    // Only what the window drew itself, no frame: cheap, to see whether it
    // has drawn anything yet.
    virtual QImage grabWindowContent(Window window) = 0;
};

class Clipboard
{
public:
    virtual ~Clipboard() = default;
    // The clipboard's picture in whatever picture format it holds; null when it holds none.
    virtual QImage picture() = 0;
    virtual void setPicture(const QImage &picture) = 0;
};

// Shown while the program waits on the desktop or on another program: a note
// over the main window says what it waits for and offers to stop waiting.
// Meanwhile the windows repaint, and any other input is dropped, not kept
// for later. Notes nest: the innermost one's words show.
class WaitNote
{
public:
    virtual ~WaitNote() = default;
    // Whether the user pressed the note's cancel (or an outer note's).
    virtual bool cancelled() const = 0;
};

// The event loop as handlers see it.
class EventLoop
{
public:
    virtual ~EventLoop() = default;
    // Lets pending events run once.
    virtual void processEvents() = 0;
    // A counted wait of empty passes, half a microsecond each. Under a note
    // the windows repaint, and a cancel ends it early, as does stopEarly
    // saying true (asked every tenth of a second).
    virtual void countedWait(int64_t passes, const std::function<bool()> &stopEarly = {}) = 0;
    // Waits the time with the windows repainting; under a note a cancel ends
    // it early, elsewhere input waits until later.
    virtual void paintFor(int milliseconds) = 0;
    // Up until the note returned goes.
    virtual std::unique_ptr<WaitNote> noteWait(const QString &what) = 0;

    static constexpr int64_t PassNanoseconds = 500;
};

// One browser window driven from here.
class Browser
{
public:
    virtual ~Browser() = default;
    virtual void setVisible(bool visible) = 0;
    // Opens the target (a web address or a file) in a new window of its own.
    virtual void open(const QString &target) = 0;
    // The new top-level window the navigation opened, brought to the front
    // when first seen; 0 while there is none.
    virtual ScreenGrabber::Window window() = 0;
    // The browser's exit status once its process has ended (a browser that
    // hands the page to a copy already running ends with 0); nothing while
    // it runs or where that cannot be known.
    virtual std::optional<int> exitStatus() = 0;

    static constexpr int CouldNotStart = 127;
};

class BrowserFactory
{
public:
    virtual ~BrowserFactory() = default;
    // Raises a run-time error when no browser can be found.
    virtual std::unique_ptr<Browser> create() = 0;
    // How long a browser may take to put its window up and draw the page,
    // beyond the wait the user set: a cold start takes 10 s and more.
    virtual int windowBoundMs() const { return 60000; }
};

// The modal one-line prompt: the text on OK, the empty text on Cancel.
class InputPrompt
{
public:
    virtual ~InputPrompt() = default;
    virtual QString ask(const QString &prompt, const QString &title,
                        const QString &defaultText) = 0;
};

// Brings to the front the top-level window titled exactly so, or else one
// whose title begins so.
class WindowActivator
{
public:
    virtual ~WindowActivator() = default;
    virtual void activate(const QString &title) = 0;
};

struct Services {
    MessageBox *messageBox = nullptr;
    SingleInstance *singleInstance = nullptr;
    WindowShape *windowShape = nullptr;
    FileChooser *fileChooser = nullptr;
    PictureLoader *pictureLoader = nullptr;
    JpegWriter *jpegWriter = nullptr;
    JpegDecoder *jpegDecoder = nullptr;
    Trash *trash = nullptr;
    ProgramLauncher *programLauncher = nullptr;
    ScreenGrabber *screenGrabber = nullptr;
    Clipboard *clipboard = nullptr;
    EventLoop *eventLoop = nullptr;
    BrowserFactory *browserFactory = nullptr;
    InputPrompt *inputPrompt = nullptr;
    WindowActivator *windowActivator = nullptr;
};

// A service a bundle holds itself, or one it chose at run time and owns.
template <class T> T *serviceIn(T &held)
{
    return &held;
}
template <class T> T *serviceIn(std::unique_ptr<T> &owned)
{
    return owned.get();
}

// The interfaces of a bundle that holds one of each under the same names.
template <class Bundle> Services servicesOf(Bundle &b)
{
    return {.messageBox = &b.messageBox,
            .singleInstance = &b.singleInstance,
            .windowShape = &b.windowShape,
            .fileChooser = &b.fileChooser,
            .pictureLoader = &b.pictureLoader,
            .jpegWriter = &b.jpegWriter,
            .jpegDecoder = &b.jpegDecoder,
            .trash = &b.trash,
            .programLauncher = &b.programLauncher,
            .screenGrabber = serviceIn(b.screenGrabber),
            .clipboard = &b.clipboard,
            .eventLoop = &b.eventLoop,
            .browserFactory = &b.browserFactory,
            .inputPrompt = &b.inputPrompt,
            .windowActivator = &b.windowActivator};
}

// A message box as handlers show them: an empty title shows the application
// title; a handler that ended the program meanwhile stops here.
int showMessage(MessageBox &box, const QString &prompt, int style = 0, const QString &title = {});
// The application title, which the main window's caption begins with.
QString applicationTitle();

// Held while a command waits with the windows painting and input held back (a
// picture decoding, a browser drawing, a portal answering): files that arrive
// from outside meanwhile wait until the command is done with its picture.
class PaintingWait
{
public:
    PaintingWait();
    ~PaintingWait();
    PaintingWait(const PaintingWait &) = delete;
    PaintingWait &operator=(const PaintingWait &) = delete;
    static bool underWay();
};

} // namespace platform
