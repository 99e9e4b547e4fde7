#include "capture/browser_capture.h"

#include "capture/clipboard_capture.h"
#include "document/picture_document.h"
#include "picture_files/common_dialog.h"
#include "platform/runtime.h"
#include "platform/services.h"

namespace capture
{

namespace
{
const QString PageNotShownText =
    QStringLiteral("ブラウザが時間内にページを表示しませんでした。現在の画像はそのままです。");

struct PageNotShown {
};

// The bound on the browser's window coming up and drawing, checked as often
// as the poll: the first start of a browser on a slow machine takes 10 s and more.
class PageWait
{
public:
    static constexpr int PollMs = 100;
    static constexpr int Polls = 600; // 60 s

    explicit PageWait(platform::EventLoop &loop) : loop_(loop) {}
    // One more poll's time, the windows painting; past the bound, gives up.
    void step()
    {
        if (++polls_ > Polls)
            throw PageNotShown();
        loop_.paintFor(PollMs);
        rt::checkpoint();
    }

private:
    platform::EventLoop &loop_;
    int polls_ = 0;
};

// A window that has drawn nothing yet: all black, or all its background colour.
bool blank(const QImage &picture)
{
    if (picture.isNull())
        return true;
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const QRgb first = rgb.pixel(0, 0) & 0xffffff;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            if ((row[x] & 0xffffff) != first)
                return false;
    }
    return true;
}
} // namespace

void chooseOffline(PictureDocument &doc)
{
    if (doc.IEMode == 0) {
        doc.IEMode = 1;
        doc.modeChanged();
    }
}

void chooseOnline(PictureDocument &doc)
{
    if (doc.IEMode == 1) {
        doc.IEMode = 0;
        doc.modeChanged();
    }
}

void captureBrowserPage(PictureDocument &doc, CommonDialog &CommonDialog1,
                        const BrowserCaptureServices &sys)
{
    // 1.
    const bool offline = doc.IEMode == 1;
    QString target;
    std::unique_ptr<platform::Browser> ie; // 25. released on every way out; the window stays
    if (offline) {
        // 2.
        CommonDialog1.CancelError = true;
        // 3. From here any error ends the command silently; steps done stay done.
        try {
            // 4.-7.
            CommonDialog1.Filter = QStringLiteral("html//htm (*.html;*.htm)|*.html;*.htm");
            CommonDialog1.FilterIndex = 1;
            CommonDialog1.ShowOpen();
            // 8.
            target = CommonDialog1.FileName;
        } catch (const rt::RuntimeError &) {
            return;
        }
    } else {
        // 9.
        const QString answer = sys.prompt.InputBox(QStringLiteral("WWWを入力してください"),
                                                   QStringLiteral("オンラインキャプチャ"),
                                                   QStringLiteral("http//:www"));
        rt::checkpoint();
        // 10.
        if (answer.isEmpty())
            return;
        // 11. Exactly as typed.
        target = answer;
    }
    // The offline variant ends silently at an error; the online one reports it
    // and goes on running (its steps done stay done).
    try {
        // 12.-14.
        ie = sys.browsers.CreateObject();
        ie->setVisible(true);
        ie->Navigate(target);
        // The counted wait is for the page to draw, so it starts once the
        // browser's new window is there and has drawn something: a cold
        // browser takes many seconds to put its first window up.
        PageWait pageWait(sys.loop);
        platform::ScreenGrabber::Window shown = 0;
        if (sys.grabber.seesWindows()) {
            while ((shown = ie->window()) == 0 || blank(sys.grabber.grabWindowContent(shown)))
                pageWait.step();
        }
        // 15. Formed once, in 32-bit arithmetic; nothing else runs meanwhile.
        const int32_t bound = rt::mul32(doc.CaptureWait, 4000);
        sys.loop.countedWait(int64_t(bound) + 1);
        // 16. Alt + Print Screen: the browser's window, with its frame, on the
        // clipboard. A window that cannot be read leaves nothing to take in:
        // whatever the clipboard held before is not the page; one still blank
        // is waited for within the same bound.
        QImage window = sys.grabber.grabWindow(shown);
        while (!window.isNull() && blank(window)) {
            pageWait.step();
            window = sys.grabber.grabWindow(shown);
        }
        if (window.isNull())
            throw rt::RuntimeError(rt::ErrCantCreateObject,
                                   QStringLiteral("ウィンドウを読み取れませんでした"));
        sys.clipboard.SetData(window);
        // 17.
        if (offline)
            ie->setVisible(true);
        // 18.
        sys.loop.DoEvents();
        rt::checkpoint();
        // 19.
        if (offline)
            ie->setVisible(true);
        // 20.
        adoptClipboardPicture(doc, sys.clipboard);
        // 21.
        if (offline)
            ie->setVisible(true);
        // 22.
        sys.activator.AppActivate(platform::applicationTitle());
        // 23.
        platform::MsgBox(sys.messages, QStringLiteral("キャプチャ完了"), platform::vbOKOnly,
                         QStringLiteral("キャプチャ処理"));
        // 24.
        doc.fitPicture();
    } catch (const PageNotShown &) {
        // Not the user's doing, and nothing was taken: both modes say so.
        platform::MsgBox(sys.messages, PageNotShownText, platform::vbExclamation,
                         QStringLiteral("キャプチャ処理"));
    } catch (const rt::RuntimeError &e) {
        if (!offline)
            platform::MsgBox(sys.messages, e.text());
    }
}

} // namespace capture
