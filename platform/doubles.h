#pragma once
// Test doubles of the platform interfaces: they record what the program asks
// and answer as the test scripts them.

#include "platform/services.h"

#include <QList>
#include <QMap>
#include <QRect>
#include <QString>

#include <functional>
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
    QList<int> answers; // taken in order; vbOK once they run out
    std::function<void(const Call &)> onShow;
    QStringList *log = nullptr;
};

class FakeSingleInstance : public SingleInstance
{
public:
    bool previousInstance() override { return running; }
    bool running = false;
};

class FakeWindowShape : public WindowShape
{
public:
    void setEllipticRegion(QWidget *window, int left, int top, int right, int bottom) override;
    void beginCaptionDrag(QWidget *window) override;
    void skipTaskbar(QWidget *window) override;

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
    QImage LoadPicture(const QString &path) override;
    bool isPicture(const QString &path) override { return pictures.contains(path); }

    QMap<QString, QImage> pictures;
    QStringList loaded;
};

class FakeJpegEncoder : public JpegEncoder
{
public:
    struct Call {
        const QImage *hdc;
        int32_t width, height;
        QByteArray fileName;
        uint8_t quality;
        int32_t reserved;
    };
    int16_t DCSavetoJPEG(const QImage *hdc, int32_t width, int32_t height, char *fileName,
                         uint8_t quality, int32_t reserved) override;

    QList<Call> calls;
    int16_t result = 0;
};

class FakeRegistry : public Registry
{
public:
    struct Value {
        int32_t type;
        QByteArray bytes;
    };
    int32_t RegOpenKeyExA(int32_t hKey, const QByteArray &lpSubKey, int32_t ulOptions,
                          int32_t samDesired, int32_t &phkResult) override;
    int32_t RegQueryValueExA(int32_t hKey, const QByteArray &lpValueName, int32_t lpReserved,
                             int32_t &lpType, QByteArray &data, int32_t &cbData) override;
    int32_t RegCloseKey(int32_t hKey) override;

    // Keys under HKEY_LOCAL_MACHINE by path, each with its values.
    QMap<QByteArray, QMap<QByteArray, Value>> keys;
    QList<QByteArray> denied;   // keys that cannot be opened with full access
    QList<QByteArray> attempts; // every key asked for, in order
    QList<int32_t> open;        // handles not closed yet
    QList<int32_t> closed;      // every close, in order

private:
    QMap<int32_t, QByteArray> handles_;
    int32_t next_ = 100;
};

class FakeProcessStarter : public ProcessStarter
{
public:
    void Shell(const QString &pathName) override;
    QStringList started;
    QStringList startable; // paths that start; others raise an error
};

class FakeFileSystem : public FileSystem
{
public:
    QString Dir(const QString &pathName) override;
    QStringList files;
    QStringList asked;
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

class FakeKeyEvents : public KeyEvents
{
public:
    void keybd_event(uint8_t bVk, uint8_t bScan, int32_t dwFlags, int32_t dwExtraInfo) override;
    Log log;
};

class FakeClipboard : public Clipboard
{
public:
    QImage GetData() override;
    QImage picture;
    Log log;
};

class FakeEventLoop : public EventLoop
{
public:
    void DoEvents() override { log(QStringLiteral("DoEvents")); }
    void pass() override { ++passes; }
    qint64 passes = 0;
    Log log;
};

class FakeBrowser : public Browser
{
public:
    FakeBrowser(Log log, bool opensWindow) : log_(log), opensWindow_(opensWindow) {}
    void setVisible(bool visible) override;
    void Navigate(const QString &target) override;
    bool windowAppeared() override { return opensWindow_; }

private:
    Log log_;
    bool opensWindow_;
};

class FakeBrowserFactory : public BrowserFactory
{
public:
    std::unique_ptr<Browser> CreateObject() override;
    bool available = true;
    bool opensWindow = true; // false: a browser that ends before showing anything
    int created = 0;
    Log log;
};

class FakeInputPrompt : public InputPrompt
{
public:
    QString InputBox(const QString &prompt, const QString &title,
                     const QString &defaultText) override;
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
    void AppActivate(const QString &title) override { log(QStringLiteral("AppActivate ") + title); }
    Log log;
};

struct FakeServices {
    FakeMessageBox messageBox;
    FakeSingleInstance singleInstance;
    FakeWindowShape windowShape;
    FakeFileChooser fileChooser;
    FakePictureLoader pictureLoader;
    FakeJpegEncoder jpegEncoder;
    FakeRegistry registry;
    FakeProcessStarter processStarter;
    FakeFileSystem fileSystem;
    FakeKeyEvents keyEvents;
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
