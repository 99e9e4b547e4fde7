// The Save command: the current picture is written as JPEG at the quality of
// the information window's slider.
#include "main_window/controls.h"
#include "main_window/form1.h"
#include "main_window/program.h"
#include "platform/runtime.h"

#include <QFile>
#include <QFileInfo>

#include <utility>
#include <vector>

namespace
{
// The encoder's results that have a message; others show nothing.
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

void Form1::mnusave_Click()
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
        FileName = CommonDialog1.FileName;
        // The dialog starts with the last path of any caller; one Enter must not
        // turn the user's HTML page (or any other document) into a JPEG.
        if (wouldDestroyNonPicture(FileName, *program().services().pictureLoader) &&
            program().MsgBox(QStringLiteral("%1 は画像ファイルではありません。\n"
                                            "JPEG で上書きしますか？")
                                 .arg(FileName),
                             platform::vbYesNo | platform::vbQuestion | platform::vbDefaultButton2,
                             Title) != platform::vbYes)
            return;
        // 5.
        const QImage *hdc = Picture1->hDC();
        const float scaleWidth = Picture1->ScaleWidth();
        const float scaleHeight = Picture1->ScaleHeight();
        // 6. The name travels in the system's narrow encoding and comes back from it.
        const QByteArray narrow = QFile::encodeName(FileName);
        std::vector<char> name(narrow.begin(), narrow.end());
        name.push_back('\0');
        const int16_t result = program().services().jpegEncoder->DCSavetoJPEG(
            hdc, rt::roundToInt32(scaleWidth), rt::roundToInt32(scaleHeight), name.data(),
            rt::cbyte(program().JpegQuality), 0);
        FileName = QFile::decodeName(name.data());
        // 7.
        for (const auto &[code, message] : Messages)
            if (result == code) {
                program().MsgBox(QString::fromUtf8(message), platform::vbOKOnly, Title);
                break;
            }
    } catch (const rt::RuntimeError &) {
    }
}
