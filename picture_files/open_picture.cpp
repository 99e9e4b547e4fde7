#include "picture_files/open_picture.h"

#include "document/picture_document.h"
#include "picture_files/common_dialog.h"
#include "platform/runtime.h"
#include "platform/services.h"

#include <QDir>
#include <QFileInfo>

namespace picture_files
{

int16_t entryFor(const QString &filter, const QString &file)
{
    const platform::FileChooser::Request entries = CommonDialog::parseFilter(filter);
    const QString name = QFileInfo(file).fileName();
    for (qsizetype i = 0; !name.isEmpty() && i < entries.patterns.size(); ++i)
        for (const QString &pattern : entries.patterns[i])
            if (QDir::match(pattern, name))
                return int16_t(i + 1);
    return 1;
}

void openPicture(PictureDocument &doc, CommonDialog &CommonDialog1, platform::PictureLoader &loader)
{
    // 1.
    CommonDialog1.CancelError = true;
    // 2. From here any error ends the command silently; steps done stay done.
    try {
        // 3.
        // Every JPEG name, and PNG (what Linux screenshot tools write) and all
        // pictures after the design's entries; the entry of the current file
        // is the one shown, so its folder does not look empty.
        CommonDialog1.Filter = QStringLiteral("JPEG (*.jpg)|*.jpg;*.jpeg;*.jpe|") +
                               QStringLiteral("BMP (*.bmp)|*.bmp|") +
                               QStringLiteral("GIF (*.gif)|*.gif|") +
                               QStringLiteral("PNG (*.png)|*.png|") +
                               QStringLiteral("すべての画像 (*.jpg;*.jpeg;*.bmp;*.gif;*.png)|"
                                              "*.jpg;*.jpeg;*.jpe;*.bmp;*.gif;*.png|");
        CommonDialog1.FilterIndex = entryFor(CommonDialog1.Filter, CommonDialog1.FileName);
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
