#include "capture/clipboard_capture.h"

#include "main_window/picture_document.h"
#include "platform/runtime.h"
#include "platform/services.h"

namespace capture
{

void copyDesktop(platform::ScreenGrabber &grabber, platform::Clipboard &clipboard,
                 platform::EventLoop &loop, platform::MessageBox &messages)
{
    // 1. Print Screen: the screen goes on the clipboard. Where it cannot be
    // read the clipboard stays as it was, and the user hears of it rather
    // than find an old or empty picture there later.
    if (const QImage screen = grabber.grabScreen(); !screen.isNull())
        clipboard.SetData(screen);
    else
        platform::MsgBox(messages, QStringLiteral("画面を読み取れませんでした"));
    // 2.
    loop.DoEvents();
    rt::checkpoint();
}

void importClipboard(PictureDocument &doc, platform::Clipboard &clipboard)
{
    // 1.
    doc.showInformationWindow();
    // 2.
    adoptClipboardPicture(doc, clipboard);
    // 3.
    doc.fitPicture();
}

void adoptClipboardPicture(PictureDocument &doc, platform::Clipboard &clipboard)
{
    const QImage picture = clipboard.GetData();
    // With no picture on the clipboard the current one stays: nothing is lost.
    if (picture.isNull())
        return;
    // 1.-2. Picture1, and Image1 with it.
    doc.setPicture(picture);
    // 3.
    doc.PicWidth = doc.pictureWidth();
    // 4.
    doc.PicHeight = rt::roundToInt32(doc.pictureHeight());
}

} // namespace capture
