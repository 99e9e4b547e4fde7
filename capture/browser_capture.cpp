#include "capture/browser_capture.h"

#include "capture/clipboard_capture.h"
#include "main_window/picture_document.h"
#include "picture_files/common_dialog.h"
#include "platform/runtime.h"
#include "platform/services.h"

namespace capture
{

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
            CommonDialog1.Flags = 4;
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
        // 15. Formed once, in 32-bit arithmetic; nothing else runs meanwhile.
        const int32_t bound = rt::mul32(doc.CaptureWait, 4000);
        sys.loop.countedWait(int64_t(bound) + 1);
        // A browser that ended without a window leaves nothing to capture: the
        // grab would only take this program's own window for the page.
        if (!ie->windowAppeared())
            throw rt::RuntimeError(rt::ErrCantCreateObject,
                                   QStringLiteral("ブラウザのウィンドウが開きませんでした"));
        // 16. Alt + Print Screen: the active window, with its frame, on the
        // clipboard. A window that cannot be read leaves nothing to take in:
        // whatever the clipboard held before is not the page.
        const QImage window = sys.grabber.grabActiveWindow();
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
    } catch (const rt::RuntimeError &e) {
        if (!offline)
            platform::MsgBox(sys.messages, e.text());
    }
}

} // namespace capture
