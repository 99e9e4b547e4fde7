#pragma once
// The narrow interfaces through which the program's logic reaches the
// platform. Each has a Linux implementation (linux_services.h) and a test
// double (doubles.h).

#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

class QWidget;

namespace platform
{

// Message box styles and answers, as callers combine and compare them.
enum MsgStyle : int {
    vbOKOnly = 0,
    vbOKCancel = 1,
    vbYesNo = 4,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
    vbDefaultButton2 = 256,
};
enum MsgAnswer : int { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

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
};

// The elliptical, title-less window: its shape, its drag, its task bar entry.
class WindowShape
{
public:
    virtual ~WindowShape() = default;
    // The ellipse inscribed in (left, top)-(right, bottom), window pixels;
    // outside it the window neither draws nor takes clicks.
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
    virtual QImage LoadPicture(const QString &path) = 0;
    // Whether the file's content is a picture this loader reads (header only).
    virtual bool isPicture(const QString &path) = 0;
};

// The JPEG encoder's one entry point: writes the top-left width x height
// pixels of the surface to fileName (NUL-terminated, the system's narrow
// encoding) at the quality. Results: 0 written, 1 cannot open, 2 cannot
// write, 3 format error, 4 out of memory.
class JpegEncoder
{
public:
    virtual ~JpegEncoder() = default;
    virtual int16_t DCSavetoJPEG(const QImage *hdc, int32_t width, int32_t height, char *fileName,
                                 uint8_t quality, int32_t reserved) = 0;
};

// The system's registry, read only. Results are 0 on success, a system
// error code otherwise.
class Registry
{
public:
    static constexpr int32_t HKEY_LOCAL_MACHINE = int32_t(0x80000002u);
    static constexpr int32_t KEY_ALL_ACCESS = 0x2003F;
    static constexpr int32_t REG_SZ = 1, REG_DWORD = 4;
    static constexpr int32_t ERROR_SUCCESS = 0, ERROR_FILE_NOT_FOUND = 2, ERROR_ACCESS_DENIED = 5,
                             ERROR_INVALID_HANDLE = 6, ERROR_MORE_DATA = 234;
    virtual ~Registry() = default;
    virtual int32_t RegOpenKeyExA(int32_t hKey, const QByteArray &lpSubKey, int32_t ulOptions,
                                  int32_t samDesired, int32_t &phkResult) = 0;
    // Fills data (whose size is cbData) with the value's bytes.
    virtual int32_t RegQueryValueExA(int32_t hKey, const QByteArray &lpValueName,
                                     int32_t lpReserved, int32_t &lpType, QByteArray &data,
                                     int32_t &cbData) = 0;
    virtual int32_t RegCloseKey(int32_t hKey) = 0;
};

// Starting another program, detached: it outlives this one.
class ProcessStarter
{
public:
    virtual ~ProcessStarter() = default;
    // Raises a run-time error when the program cannot be started.
    virtual void Shell(const QString &pathName) = 0;
};

// The file-existence test: the file's name when a normal file is there, else empty.
class FileSystem
{
public:
    virtual ~FileSystem() = default;
    virtual QString Dir(const QString &pathName) = 0;
};

// Synthesised key strokes. Here nothing in the system answers Print Screen,
// so the layer does: a Print Screen key-down puts a picture of the whole
// screen on the clipboard, or of the active window (with its frame) while Alt
// is down.
class KeyEvents
{
public:
    static constexpr uint8_t VK_MENU = 18, VK_SNAPSHOT = 44;
    static constexpr int32_t KEYEVENTF_KEYUP = 2;
    virtual ~KeyEvents() = default;
    virtual void keybd_event(uint8_t bVk, uint8_t bScan, int32_t dwFlags, int32_t dwExtraInfo) = 0;
};

class Clipboard
{
public:
    virtual ~Clipboard() = default;
    // The clipboard's picture in whatever picture format it holds; null when it holds none.
    virtual QImage GetData() = 0;
};

// The event loop as handlers see it.
class EventLoop
{
public:
    virtual ~EventLoop() = default;
    // Lets pending events run once.
    virtual void DoEvents() = 0;
    // One empty pass of a counted wait (a fixed, short time).
    virtual void pass() = 0;
};

// One browser window driven from here.
class Browser
{
public:
    virtual ~Browser() = default;
    virtual void setVisible(bool visible) = 0;
    // Opens the target (a web address or a file) in a new window of its own.
    virtual void Navigate(const QString &target) = 0;
    // Whether a window came up for the navigation since it started.
    virtual bool windowAppeared() = 0;
};

class BrowserFactory
{
public:
    virtual ~BrowserFactory() = default;
    // Raises a run-time error when no browser can be found.
    virtual std::unique_ptr<Browser> CreateObject() = 0;
};

// The modal one-line prompt: the text on OK, the empty text on Cancel.
class InputPrompt
{
public:
    virtual ~InputPrompt() = default;
    virtual QString InputBox(const QString &prompt, const QString &title,
                             const QString &defaultText) = 0;
};

// Brings to the front the top-level window titled exactly so, or else one
// whose title begins so.
class WindowActivator
{
public:
    virtual ~WindowActivator() = default;
    virtual void AppActivate(const QString &title) = 0;
};

struct Services {
    MessageBox *messageBox = nullptr;
    SingleInstance *singleInstance = nullptr;
    WindowShape *windowShape = nullptr;
    FileChooser *fileChooser = nullptr;
    PictureLoader *pictureLoader = nullptr;
    JpegEncoder *jpegEncoder = nullptr;
    Registry *registry = nullptr;
    ProcessStarter *processStarter = nullptr;
    FileSystem *fileSystem = nullptr;
    KeyEvents *keyEvents = nullptr;
    Clipboard *clipboard = nullptr;
    EventLoop *eventLoop = nullptr;
    BrowserFactory *browserFactory = nullptr;
    InputPrompt *inputPrompt = nullptr;
    WindowActivator *windowActivator = nullptr;
};

// The interfaces of a bundle that holds one of each under the same names.
template <class Bundle> Services servicesOf(Bundle &b)
{
    return {.messageBox = &b.messageBox,
            .singleInstance = &b.singleInstance,
            .windowShape = &b.windowShape,
            .fileChooser = &b.fileChooser,
            .pictureLoader = &b.pictureLoader,
            .jpegEncoder = &b.jpegEncoder,
            .registry = &b.registry,
            .processStarter = &b.processStarter,
            .fileSystem = &b.fileSystem,
            .keyEvents = &b.keyEvents,
            .clipboard = &b.clipboard,
            .eventLoop = &b.eventLoop,
            .browserFactory = &b.browserFactory,
            .inputPrompt = &b.inputPrompt,
            .windowActivator = &b.windowActivator};
}

} // namespace platform
