#include "picture_files/save_jpeg.h"

#include "core/runtime.h"
#include "core/services.h"
#include "document/picture_document.h"
#include "picture_files/file_dialog.h"
#include "platform/files/file_names.h"

#include <QFileInfo>

#include <utility>

namespace picture_files
{

namespace
{
using platform::WriteResult;
constexpr std::pair<WriteResult, const char *> Messages[] = {
    {WriteResult::Written, "JPEG変換完了♪"},
    {WriteResult::CannotOpen, "ファイルがオープンできません"},
    {WriteResult::CannotWrite, "ファイルが書きこめません"},
    {WriteResult::FormatError, "フォーマットエラーです"},
    {WriteResult::OutOfMemory, "スタックオーバーフローです"},
};
} // namespace

QString writeMessage(platform::WriteResult result)
{
    for (const auto &[code, message] : Messages)
        if (result == code)
            return QString::fromUtf8(message);
    return {};
}

bool wouldDestroyNonPicture(const QString &path, platform::PictureLoader &loader)
{
    const platform::FileKind kind = platform::kindOf(path);
    return kind.regular && kind.size > 0 && !loader.isPicture(path);
}

QString proposedJpegName(const QString &name)
{
    if (name.isEmpty())
        return name;
    const QFileInfo info(name);
    const QString suffix = info.suffix().toLower();
    if (suffix == QStringLiteral("jpg") || suffix == QStringLiteral("jpeg") ||
        suffix == QStringLiteral("jpe"))
        return name;
    if (suffix.isEmpty())
        return name + QStringLiteral(".jpg");
    return name.left(name.size() - suffix.size()) + QStringLiteral("jpg");
}

QString typedJpegName(const QString &name)
{
    return QFileInfo(name).suffix().isEmpty() && !name.endsWith(u'/')
               ? name + QStringLiteral(".jpg")
               : name;
}

void saveJpeg(PictureDocument &doc, FileDialog &fileDialog, const SaveServices &sys)
{
    const QString Title = QStringLiteral("保存情況");
    // So that Cancel in the dialog ends the command.
    fileDialog.cancelRaisesError = true;
    // From here any error ends the command silently; what is done stays done.
    try {
        fileDialog.filter =
            QStringLiteral("JPEG (*.jpg)|*.jpg|") + QStringLiteral("BMP (*.bmp)|*.bmp|");
        fileDialog.filterIndex = 1;
        // Offered under a JPEG name: one Enter must not put JPEG bytes under
        // the source's .png name. Cancelled, the shared name is as it was.
        const QString before = fileDialog.fileName;
        fileDialog.fileName = proposedJpegName(before);
        try {
            fileDialog.showSave();
        } catch (const rt::RuntimeError &) {
            fileDialog.fileName = before;
            throw;
        }
        // A name typed without an extension is a JPEG name, as the filter says.
        fileDialog.fileName = typedJpegName(fileDialog.fileName);
        doc.fileName = fileDialog.fileName;
        // What the save works on is read once, now: a file handed over or
        // dropped while a question below is up changes none of it.
        const QString target = doc.fileName;
        const QImage picture = doc.picture();
        const int32_t quality = doc.JpegQuality();
        const auto ask = [&](const QString &question) {
            return platform::showMessage(sys.messages, question.arg(target),
                                         platform::MessageStyle::YesNo |
                                             platform::MessageStyle::Question |
                                             platform::MessageStyle::SecondButtonDefault,
                                         Title) == platform::MessageAnswer::Yes;
        };
        // The dialog starts with the last path of any caller; one Enter must not
        // turn the user's HTML page (or any other document) into a JPEG.
        const bool nonPicture = wouldDestroyNonPicture(target, sys.loader);
        if (nonPicture && !ask(QStringLiteral("%1 は画像ファイルではありません。\n"
                                              "JPEG で上書きしますか？")))
            return;
        // What is replaced can be had back from the trash; where there is no
        // trash for it the user decides (once). The same picture this run
        // wrote there, as it left it, is replaced as it is: a second quality
        // of one picture needs no copy of the first.
        const bool ours = doc.writtenFiles.contains(target, picture.cacheKey());
        platform::OldFile old{ours ? nullptr : &sys.trash, false};
        // pictureBox's pixels, at their full size, at the document's quality.
        WriteResult result = sys.writer.write(picture, target, quality, old);
        if (result == WriteResult::NotKept) {
            if (!nonPicture && !ask(QStringLiteral("%1 はゴミ箱に残せません。\n"
                                                   "JPEG で上書きしますか？")))
                return;
            old.mayLose = true;
            result = sys.writer.write(picture, target, quality, old);
        }
        if (result == WriteResult::Written)
            doc.writtenFiles.record(target, picture.cacheKey());
        if (const QString message = writeMessage(result); !message.isEmpty())
            platform::showMessage(sys.messages, message, platform::MessageStyle::OkOnly, Title);
    } catch (const rt::RuntimeError &) {
    }
}

} // namespace picture_files
