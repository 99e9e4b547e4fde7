#include "capture/clipboard_capture.h"

#include "core/runtime.h"
#include "core/services.h"
#include "document/picture_document.h"

namespace capture
{

namespace
{
const QString Refused =
    QStringLiteral("デスクトップが、このプログラムによる画面の読み取りを拒否しました。\n\n"
                   "許可し直すには、端末で次のコマンドを実行して、記録された拒否を消してください。"
                   "次の「全体をクリップにコピー」で、デスクトップがもう一度確認します。\n\n"
                   "gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore "
                   "--object-path /org/freedesktop/impl/portal/PermissionStore "
                   "--method org.freedesktop.impl.portal.PermissionStore.DeletePermission "
                   "screenshot screenshot ''");
const QString OfferDialog =
    QStringLiteral("デスクトップのスクリーンショット画面で、画面を取り込みますか？");
const QString NotAnswered = QStringLiteral(
    "デスクトップの確認に時間内の答えがなかったため、画面を読み取れませんでした。"
    "クリップボードはそのままです。\n\n"
    "もう一度「全体をクリップにコピー」を押すと、デスクトップがもう一度確認します。");
const QString DialogNotDone =
    QStringLiteral("デスクトップのスクリーンショット画面から、時間内に画像が届きませんでした。"
                   "クリップボードはそのままです。");
} // namespace

void copyDesktop(platform::ScreenGrabber &grabber, platform::Clipboard &clipboard,
                 platform::EventLoop &loop, platform::MessageBox &messages)
{
    // Print Screen: the screen goes on the clipboard. Where it cannot be
    // read the clipboard stays as it was, and the user hears of it rather
    // than find an old or empty picture there later; the user who left the
    // wait has nothing to be told.
    const platform::ScreenGrabber::Screen screen = grabber.grabScreen();
    if (!screen.picture.isNull()) {
        clipboard.setPicture(screen.picture);
    } else if (screen.timedOut) {
        platform::showMessage(messages, NotAnswered, platform::MessageStyle::Warning);
    } else if (screen.refused) {
        // The desktop's own dialog is the user's consent each time: it still works.
        platform::showMessage(messages, Refused, platform::MessageStyle::Warning);
        if (platform::showMessage(messages, OfferDialog,
                                  platform::MessageStyle::YesNo |
                                      platform::MessageStyle::Question) ==
            platform::MessageAnswer::Yes) {
            const platform::ScreenGrabber::Screen chosen = grabber.grabScreenInteractively();
            if (!chosen.picture.isNull())
                clipboard.setPicture(chosen.picture);
            else if (chosen.timedOut)
                platform::showMessage(messages, DialogNotDone, platform::MessageStyle::Warning);
        }
    } else if (!screen.cancelled) {
        platform::showMessage(messages, QStringLiteral("画面を読み取れませんでした"));
    }
    loop.processEvents();
    rt::checkpoint();
}

void importClipboard(PictureDocument &doc, platform::Clipboard &clipboard)
{
    doc.showInformationWindow();
    adoptClipboardPicture(doc, clipboard);
    doc.fitPicture();
}

void adoptClipboardPicture(PictureDocument &doc, platform::Clipboard &clipboard)
{
    const QImage picture = clipboard.picture();
    // With no picture on the clipboard the current one stays: nothing is lost.
    if (picture.isNull())
        return;
    // Into pictureBox, and pictureView with it.
    doc.setPicture(picture);
    doc.PicWidth = doc.pictureWidth();
    doc.PicHeight = rt::roundToInt32(doc.pictureHeight());
}

} // namespace capture
