#include "capture/browser_capture.h"

#include "capture/clipboard_capture.h"
#include "core/runtime.h"
#include "core/services.h"
#include "document/picture_document.h"
#include "picture_files/file_dialog.h"

#include <algorithm>
#include <functional>
#include <optional>

namespace capture
{

namespace
{
const QString Title = QStringLiteral("キャプチャ処理");
const QString PageNotShownText =
    QStringLiteral("ブラウザが時間内にページを表示しませんでした。現在の画像はそのままです。");
const QString NotStartedText =
    QStringLiteral("ブラウザを起動できませんでした。現在の画像はそのままです。");
const QString FailedText =
    QStringLiteral("ブラウザがエラーで終了しました（終了コード %1）。現在の画像はそのままです。");
const QString GoneText =
    QStringLiteral("ブラウザがページを表示しないまま終了しました。現在の画像はそのままです。");

// Why a capture ends without the page: not the user's doing, and said so.
struct NoPage {
    QString text;
};
// The user left the wait: nothing to say.
struct Cancelled {
};

// Why the browser's end means no page, if it does: a failed start or an
// error at once; where windows can be told apart, an end with 0 may be a
// page handed to a copy already running, whose window is still to come.
std::optional<QString> noPageFrom(platform::Browser &browser, bool anyEnd)
{
    const std::optional<int> status = browser.exitStatus();
    if (!status)
        return std::nullopt;
    // 126 and 127: the shell found no program it could run.
    if (*status == platform::Browser::CouldNotStart || *status == 126)
        return NotStartedText;
    if (*status != 0)
        return FailedText.arg(*status);
    if (anyEnd)
        return GoneText;
    return std::nullopt;
}

void checkBrowser(platform::Browser &browser, bool anyEnd)
{
    if (const std::optional<QString> why = noPageFrom(browser, anyEnd))
        throw NoPage{*why};
}

// The bound on the browser's window coming up and drawing, checked as often
// as the poll: the first start of a browser on a slow machine takes 10 s and more.
class PageWait
{
public:
    static constexpr int PollMs = 100;

    PageWait(platform::EventLoop &loop, platform::Browser &browser, std::function<bool()> cancelled,
             int boundMs)
        : loop_(loop), browser_(browser), cancelled_(std::move(cancelled)),
          polls_(std::max(1, boundMs / PollMs))
    {
    }
    // One more poll's time, the windows painting; past the bound, or once
    // the browser has failed or the user has cancelled, gives up.
    void step()
    {
        checkBrowser(browser_, false);
        if (++done_ > polls_)
            throw NoPage{PageNotShownText};
        loop_.paintFor(PollMs);
        rt::checkpoint();
        if (cancelled_())
            throw Cancelled();
    }

private:
    platform::EventLoop &loop_;
    platform::Browser &browser_;
    std::function<bool()> cancelled_;
    int polls_;
    int done_ = 0;
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
    if (doc.offlineMode == 0) {
        doc.offlineMode = 1;
        doc.modeChanged();
    }
}

void chooseOnline(PictureDocument &doc)
{
    if (doc.offlineMode == 1) {
        doc.offlineMode = 0;
        doc.modeChanged();
    }
}

void captureBrowserPage(PictureDocument &doc, FileDialog &fileDialog,
                        const BrowserCaptureServices &sys)
{
    const bool offline = doc.offlineMode == 1;
    QString target;
    std::unique_ptr<platform::Browser> browser; // released on every way out; its window stays open
    if (offline) {
        // So that Cancel in the dialog ends the command.
        fileDialog.cancelRaisesError = true;
        // From here any error ends the command silently; what is done stays done.
        try {
            fileDialog.filter = QStringLiteral("html//htm (*.html;*.htm)|*.html;*.htm");
            fileDialog.filterIndex = 1;
            fileDialog.showOpen();
            target = fileDialog.fileName;
        } catch (const rt::RuntimeError &) {
            return;
        }
    } else {
        const QString answer =
            sys.prompt.ask(QStringLiteral("WWWを入力してください"),
                           QStringLiteral("オンラインキャプチャ"), QStringLiteral("http//:www"));
        rt::checkpoint();
        // Cancel answers with an empty text.
        if (answer.isEmpty())
            return;
        // Taken exactly as typed.
        target = answer;
    }
    // The offline variant ends silently at an error; the online one reports it
    // and goes on running (what it has done stays done).
    try {
        browser = sys.browsers.create();
        browser->setVisible(true);
        browser->open(target);
        std::unique_ptr<platform::WaitNote> note =
            sys.loop.noteWait(QStringLiteral("ブラウザがページを表示するのを待っています…"));
        // The counted wait is for the page to draw, so it starts once the
        // browser's new window is there and has drawn something: a cold
        // browser takes many seconds to put its first window up.
        PageWait pageWait(
            sys.loop, *browser, [&note] { return note && note->cancelled(); },
            sys.browsers.windowBoundMs());
        const bool seesWindows = sys.grabber.seesWindows();
        platform::ScreenGrabber::Window shown = 0;
        if (seesWindows) {
            while ((shown = browser->window()) == 0 || blank(sys.grabber.grabWindowContent(shown)))
                pageWait.step();
        }
        // Where no window can be seen, only the browser's process tells
        // whether a page can be there: any end of it means none.
        const auto gone = [&] { return noPageFrom(*browser, !seesWindows).has_value(); };
        // Formed once, in 32-bit arithmetic.
        const int32_t bound = rt::mul32(doc.CaptureWait, 4000);
        sys.loop.countedWait(int64_t(bound) + 1, gone);
        rt::checkpoint();
        if (note->cancelled())
            throw Cancelled();
        if (!seesWindows)
            checkBrowser(*browser, true);
        // The note goes before the picture is taken, which it must not be in.
        note.reset();
        // Alt + Print Screen: the browser's window, with its frame, on the
        // clipboard. A window that cannot be read leaves nothing to take in:
        // whatever the clipboard held before is not the page; one still blank
        // is waited for within the same bound.
        QImage window = sys.grabber.grabWindow(shown);
        while (!window.isNull() && blank(window)) {
            pageWait.step();
            window = sys.grabber.grabWindow(shown);
        }
        if (!seesWindows)
            checkBrowser(*browser, true);
        if (window.isNull())
            throw rt::RuntimeError(rt::ErrCantCreateObject,
                                   QStringLiteral("ウィンドウを読み取れませんでした"));
        sys.clipboard.setPicture(window);
        if (offline)
            browser->setVisible(true);
        sys.loop.processEvents();
        rt::checkpoint();
        if (offline)
            browser->setVisible(true);
        adoptClipboardPicture(doc, sys.clipboard);
        if (offline)
            browser->setVisible(true);
        // The browser has taken the front: this program takes it back.
        sys.activator.activate(platform::applicationTitle());
        platform::showMessage(sys.messages, QStringLiteral("キャプチャ完了"),
                              platform::MessageStyle::OkOnly, Title);
        doc.fitPicture();
    } catch (const Cancelled &) {
    } catch (const NoPage &failure) {
        // Nothing was taken: both modes say so.
        platform::showMessage(sys.messages, failure.text, platform::MessageStyle::Warning, Title);
    } catch (const rt::RuntimeError &e) {
        if (!offline)
            platform::showMessage(sys.messages, e.text());
    }
}

} // namespace capture
