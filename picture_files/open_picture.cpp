#include "picture_files/open_picture.h"

#include "core/runtime.h"
#include "core/services.h"
#include "document/picture_document.h"
#include "picture_files/file_dialog.h"
#include "picture_files/picture_choices.h"

#include <QDir>
#include <QFileInfo>

namespace picture_files
{

int16_t entryFor(const QString &filter, const QString &file)
{
    const platform::FileChooser::Request entries = FileDialog::parseFilter(filter);
    const QString name = QFileInfo(file).fileName();
    for (qsizetype i = 0; !name.isEmpty() && i < entries.patterns.size(); ++i)
        for (const QString &pattern : entries.patterns[i])
            if (QDir::match(pattern, name))
                return int16_t(i + 1);
    return 1;
}

void openPicture(PictureDocument &doc, FileDialog &fileDialog, platform::PictureLoader &loader,
                 platform::MessageBox *messages)
{
    // So that Cancel in the dialog ends the command.
    fileDialog.cancelRaisesError = true;
    // From here any error ends the command silently; what is done stays done.
    try {
        // Every JPEG name, and the formats phones, cameras, screenshot tools
        // and the web give, after the first three; the entry of the current
        // file is the one shown, so its folder does not look empty.
        fileDialog.filter =
            QStringLiteral("JPEG (*.jpg)|*.jpg;*.jpeg;*.jpe|") +
            QStringLiteral("BMP (*.bmp)|*.bmp|") + QStringLiteral("GIF (*.gif)|*.gif|") +
            QStringLiteral("PNG (*.png)|*.png|") +
            QStringLiteral("HEIC・AVIF (*.heic;*.heif;*.avif)|*.heic;*.heif;*.hif;*.avif|") +
            QStringLiteral("WebP (*.webp)|*.webp|") + QStringLiteral("TIFF (*.tif)|*.tif;*.tiff|") +
            QStringLiteral("JPEG XL (*.jxl)|*.jxl|") +
            QStringLiteral("すべての画像|*.jpg;*.jpeg;*.jpe;*.bmp;*.gif;*.png;*.heic;*.heif;*.hif;"
                           "*.avif;*.webp;*.tif;*.tiff;*.jxl|");
        fileDialog.filterIndex = entryFor(fileDialog.filter, fileDialog.fileName);
        const QString before = fileDialog.fileName;
        fileDialog.showOpen();
        // A file that cannot be opened leaves the dialog's name as it
        // was too: Save offers it next.
        if (!openFile(doc, fileDialog, loader, fileDialog.fileName, messages))
            fileDialog.fileName = before;
    } catch (const rt::RuntimeError &) {
    }
}

bool openFile(PictureDocument &doc, FileDialog &fileDialog, platform::PictureLoader &loader,
              const QString &path, platform::MessageBox *messages)
{
    // From here any error ends the command; what is done stays done.
    try {
        // The picture is loaded before the name is taken: a file that
        // cannot be read must not lend its name to the picture shown, or the
        // next Save would write that picture over it.
        const QImage picture = asChosen(loader.load(path), PictureChoices());
        fileDialog.fileName = path;
        doc.fileName = path;
        // pictureBox, and pictureView with it, show the picture.
        doc.setPicture(picture, QFileInfo(path).size());
        doc.showPictureAtFullSize();
        doc.PicWidth = doc.pictureWidth();
        doc.PicHeight = rt::roundToInt32(doc.pictureHeight());
        // Loads the information window (without showing it) if it is not loaded.
        doc.showFileName(doc.fileName);
        doc.fitPicture();
        return true;
    } catch (const rt::RuntimeError &e) {
        // Silence leaves the user guessing whether anything happened.
        if (messages)
            platform::showMessage(*messages,
                                  e.number() == rt::ErrInvalidPicture
                                      ? QStringLiteral("%1 は読める画像ではありません"
                                                       "（壊れているか大きすぎます）")
                                            .arg(path)
                                  : e.number() == rt::ErrFileNotFound
                                      ? QStringLiteral("%1 が見つかりません").arg(path)
                                      : QStringLiteral("%1\n%2").arg(path, unreadableReason(e)),
                                  platform::MessageStyle::Warning);
        return false;
    }
}

} // namespace picture_files
