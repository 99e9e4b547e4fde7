#include "picture_files/convert_files.h"

#include "main_window/picture_document.h"
#include "platform/runtime.h"
#include "platform/services.h"

#include <QTextStream>

namespace picture_files
{

namespace
{
// The writer's results as Save reports them.
QString writeFailure(int16_t result)
{
    switch (result) {
    case 1:
        return QStringLiteral("ファイルがオープンできません");
    case 2:
        return QStringLiteral("ファイルが書きこめません");
    case 3:
        return QStringLiteral("フォーマットエラーです");
    case 4:
        return QStringLiteral("スタックオーバーフローです");
    default:
        return QStringLiteral("エラー %1").arg(result);
    }
}
} // namespace

int convertFiles(const QList<Conversion> &conversions, int32_t quality,
                 platform::PictureLoader &loader, platform::JpegWriter &writer, QTextStream &errors)
{
    int failed = 0;
    PictureDocument doc;
    for (const Conversion &c : conversions) {
        try {
            // Loaded first: a file that holds no picture leaves its output alone.
            doc.setPicture(loader.LoadPicture(c.input));
        } catch (const rt::RuntimeError &e) {
            errors << "mipoquibbo: " << c.input << ": "
                   << (e.number() == rt::ErrFileNotFound
                           ? QStringLiteral("ファイルがありません")
                           : QStringLiteral("読める画像ではありません（壊れているか大きすぎます）"))
                   << Qt::endl;
            ++failed;
            continue;
        }
        const int16_t result = writer.write(doc.picture(), c.output, quality);
        if (result != 0) {
            errors << "mipoquibbo: " << c.input << " -> " << c.output << ": "
                   << writeFailure(result) << Qt::endl;
            ++failed;
        }
    }
    return failed;
}

} // namespace picture_files
