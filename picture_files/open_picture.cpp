#include "picture_files/open_picture.h"

#include "main_window/picture_document.h"
#include "picture_files/common_dialog.h"
#include "platform/runtime.h"
#include "platform/services.h"

namespace picture_files
{

void openPicture(PictureDocument &doc, CommonDialog &CommonDialog1, platform::PictureLoader &loader)
{
    // 1.
    CommonDialog1.CancelError = true;
    // 2. From here any error ends the command silently; steps done stay done.
    try {
        // 3.
        CommonDialog1.Flags = 4;
        CommonDialog1.Filter = QStringLiteral("JPEG (*.jpg)|*.jpg|") +
                               QStringLiteral("BMP (*.bmp)|*.bmp|") +
                               QStringLiteral("GIF (*.gif)|*.gif|");
        CommonDialog1.FilterIndex = 2;
        CommonDialog1.ShowOpen();
        // 4.-10.
        openFile(doc, CommonDialog1, loader, CommonDialog1.FileName);
    } catch (const rt::RuntimeError &) {
    }
}

void openFile(PictureDocument &doc, CommonDialog &CommonDialog1, platform::PictureLoader &loader,
              const QString &path, platform::MessageBox *messages)
{
    CommonDialog1.FileName = path;
    // From here any error ends the command silently; steps done stay done.
    try {
        // 4.
        doc.FileName = path;
        // 5.-6. Picture1, and Image1 with it, show the picture.
        doc.setPicture(loader.LoadPicture(doc.FileName));
        // 7.
        doc.showPictureAtFullSize();
        // 8.
        doc.PicWidth = doc.pictureWidth();
        doc.PicHeight = rt::roundToInt32(doc.pictureHeight());
        // 9. Loads the information window (without showing it) if it is not loaded.
        doc.showFileName(doc.FileName);
        // 10.
        doc.fitPicture();
    } catch (const rt::RuntimeError &e) {
        if (messages)
            platform::MsgBox(*messages, e.number() == rt::ErrFileNotFound
                                            ? QStringLiteral("%1 が見つかりません").arg(path)
                                            : QStringLiteral("%1 は読める画像ではありません"
                                                             "（壊れているか大きすぎます）")
                                                  .arg(path));
    }
}

} // namespace picture_files
