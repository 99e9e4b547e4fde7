#include "picture_files/convert_files.h"

#include "main_window/picture_document.h"
#include "picture_files/save_jpeg.h"
#include "platform/runtime.h"
#include "platform/services.h"

#include <QFileInfo>
#include <QHash>

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

int convertFiles(const QList<Conversion> &conversions, int32_t quality, bool force,
                 const ConvertServices &sys, QTextStream &errors)
{
    int failed = 0;
    PictureDocument doc;
    QHash<QString, QString> written; // output, by absolute path -> its input
    const auto fail = [&](const Conversion &c, const QString &why) {
        errors << "mipoquibbo: " << c.input << " -> " << c.output << ": " << why << Qt::endl;
        ++failed;
    };
    for (const Conversion &c : conversions) {
        // Two inputs on one output name: the later one would replace the
        // earlier one's file.
        const QString output = QFileInfo(c.output).absoluteFilePath();
        if (const auto earlier = written.constFind(output); earlier != written.constEnd()) {
            fail(c, QStringLiteral("%1 と同じ出力名です").arg(*earlier));
            continue;
        }
        try {
            // Loaded first: a file that holds no picture leaves its output alone.
            doc.setPicture(sys.loader.LoadPicture(c.input));
        } catch (const rt::RuntimeError &e) {
            errors << "mipoquibbo: " << c.input << ": "
                   << (e.number() == rt::ErrFileNotFound
                           ? QStringLiteral("ファイルがありません")
                           : QStringLiteral("読める画像ではありません（壊れているか大きすぎます）"))
                   << Qt::endl;
            ++failed;
            continue;
        }
        // The same safe replacement as Save: what was there goes to the trash
        // first; a document that is no picture, or a file no trash can keep,
        // is replaced only when asked to with --force.
        bool trashed = false;
        if (QFileInfo(c.output).isFile() && !doc.writtenFiles.contains(c.output)) {
            if (!force && wouldDestroyNonPicture(c.output, sys.loader)) {
                fail(c, QStringLiteral(
                            "画像ファイルではないので上書きしません（--force で上書きします）"));
                continue;
            }
            trashed = sys.trash.keepCopy(c.output);
            if (!trashed && !force) {
                fail(c, QStringLiteral(
                            "ゴミ箱に残せないので上書きしません（--force で上書きします）"));
                continue;
            }
        }
        const int16_t result = sys.writer.write(doc.picture(), c.output, quality);
        if (result != 0) {
            if (trashed)
                sys.trash.takeBack(c.output);
            fail(c, writeFailure(result));
            continue;
        }
        doc.writtenFiles.record(c.output);
        written.insert(output, c.input);
    }
    return failed;
}

} // namespace picture_files
