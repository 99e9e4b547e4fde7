#include "picture_files/save_jpeg.h"

#include "main_window/picture_document.h"
#include "picture_files/common_dialog.h"
#include "platform/runtime.h"
#include "platform/services.h"

#include <QFileInfo>

#include <utility>

namespace picture_files
{

namespace
{
// The writer's results that have a message; others show nothing.
constexpr std::pair<int16_t, const char *> Messages[] = {
    {0, "JPEG変換完了♪"},
    {1, "ファイルがオープンできません"},
    {2, "ファイルが書きこめません"},
    {3, "フォーマットエラーです"},
    {4, "スタックオーバーフローです"},
};

// A file the user may care about: it exists, is a regular file, and is no
// picture (so not something this tool wrote or reads).
bool wouldDestroyNonPicture(const QString &path, platform::PictureLoader &loader)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile() && info.size() > 0 && !loader.isPicture(path);
}
} // namespace

void saveJpeg(PictureDocument &doc, CommonDialog &CommonDialog1, const SaveServices &sys)
{
    const QString Title = QStringLiteral("保存情況");
    // 1.
    CommonDialog1.CancelError = true;
    // 2. From here any error ends the command silently; steps done stay done.
    try {
        // 3.
        CommonDialog1.Flags = 4;
        CommonDialog1.Filter =
            QStringLiteral("JPEG (*.jpg)|*.jpg|") + QStringLiteral("BMP (*.bmp)|*.bmp|");
        CommonDialog1.FilterIndex = 1;
        CommonDialog1.ShowSave();
        // 4.
        doc.FileName = CommonDialog1.FileName;
        const auto ask = [&](const QString &question) {
            return platform::MsgBox(sys.messages, question.arg(doc.FileName),
                                    platform::vbYesNo | platform::vbQuestion |
                                        platform::vbDefaultButton2,
                                    Title) == platform::vbYes;
        };
        // The dialog starts with the last path of any caller; one Enter must not
        // turn the user's HTML page (or any other document) into a JPEG.
        const bool nonPicture = wouldDestroyNonPicture(doc.FileName, sys.loader);
        if (nonPicture && !ask(QStringLiteral("%1 は画像ファイルではありません。\n"
                                              "JPEG で上書きしますか？")))
            return;
        // What is replaced can be had back from the trash; where there is no
        // trash for it the user decides (once).
        const QString written = QFileInfo(doc.FileName).absoluteFilePath();
        if (QFileInfo(doc.FileName).isFile() && !doc.writtenFiles.contains(written) &&
            !sys.trash.keepCopy(doc.FileName) && !nonPicture &&
            !ask(QStringLiteral("%1 はゴミ箱に残せません。\n"
                                "JPEG で上書きしますか？")))
            return;
        // 5.-6. Picture1's pixels, at their full size, at the document's quality.
        const int16_t result = sys.writer.write(doc.picture(), doc.FileName, doc.JpegQuality());
        if (result == 0)
            doc.writtenFiles.insert(written);
        // 7.
        for (const auto &[code, message] : Messages)
            if (result == code) {
                platform::MsgBox(sys.messages, QString::fromUtf8(message), platform::vbOKOnly,
                                 Title);
                break;
            }
    } catch (const rt::RuntimeError &) {
    }
}

} // namespace picture_files
