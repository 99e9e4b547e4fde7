#include "app/command_line.h"

#include "core/app_identity.h"
#include "jpeg_encoder/writer.h"
#include "picture_files/convert_files.h"
#include "platform/files/desktop_trash.h"
#include "platform/files/file_names.h"
#include "platform/picture_io/picture_loader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTextStream>
#include <QThread>

#include <cstdio>
#include <malloc.h>

namespace command_line
{

namespace
{
const char Usage[] =
    "使い方: mipoquibbo [ファイル]\n"
    "        mipoquibbo [オプション] --output 出力.jpg 入力\n"
    "        mipoquibbo [オプション] --output-dir フォルダ 入力...\n"
    "\n"
    "ファイルを指定すると、ウィンドウを開いてその画像を表示します。\n"
    "  --quality Q        JPEG の画質 0〜100（既定 50）\n"
    "  --output 出力      入力をひとつ、この JPEG ファイルに書き出します\n"
    "  --output-dir DIR   入力をそれぞれ DIR/名前.jpg に書き出します\n"
    "  --force            画像でないファイルや、ゴミ箱に残せないファイルも上書きします\n"
    "  --colour keep|srgb 色: keep は画素とカラープロファイルをそのまま残します（既定）、\n"
    "                     srgb は sRGB に変換してプロファイルを付けません\n"
    "  --metadata safe|all|none\n"
    "                     メタデータ: safe は撮影日時・カメラ・レンズ・露出・作者・著作権・\n"
    "                     説明を残し、位置情報などは消します（既定）、all はすべて、\n"
    "                     none は何も残しません\n"
    "  --help             この説明を表示します\n"
    "  --version          バージョンを表示します\n";

int usageError(const QString &why)
{
    std::fprintf(stderr, "mipoquibbo: %s\n\n%s", qUtf8Printable(why), Usage);
    return 2;
}

// Options that take the next argument as their value, whatever it looks like.
bool takesValue(const QString &a)
{
    return a == QStringLiteral("--quality") || a == QStringLiteral("--output") ||
           a == QStringLiteral("--output-dir") || a == QStringLiteral("--colour") ||
           a == QStringLiteral("--metadata");
}
} // namespace

Start run(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << platform::nameOf(argv[i]);
    // Only before "--", and never an option's value: there "--help" is a file's name.
    QStringList switches;
    for (qsizetype i = 0; i < args.size() && args[i] != QStringLiteral("--"); ++i) {
        if (takesValue(args[i]))
            ++i;
        else
            switches << args[i];
    }
    if (switches.contains(QStringLiteral("--help")) || switches.contains(QStringLiteral("-h"))) {
        std::fputs(Usage, stdout);
        return {0, {}};
    }
    if (switches.contains(QStringLiteral("--version"))) {
        std::printf("mipoquibbo %d.%d.%d\n", app_identity::Major, app_identity::Minor,
                    app_identity::Revision);
        return {0, {}};
    }
    picture_files::ConvertOptions chosen;
    QString output, outputDir;
    QStringList inputs;
    bool options = false, endOfOptions = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (!endOfOptions && a == QStringLiteral("--")) {
            endOfOptions = true;
        } else if (!endOfOptions && a == QStringLiteral("--force")) {
            chosen.force = true;
            options = true;
        } else if (!endOfOptions && takesValue(a)) {
            if (i + 1 >= args.size())
                return {usageError(a + QStringLiteral(" に値がありません")), {}};
            const QString value = args[++i];
            options = true;
            if (a == QStringLiteral("--quality")) {
                bool ok = false;
                chosen.quality = value.toInt(&ok);
                if (!ok || chosen.quality < 0 || chosen.quality > 100)
                    return {usageError(QStringLiteral("画質は 0〜100 です: ") + value), {}};
            } else if (a == QStringLiteral("--colour")) {
                if (value == QStringLiteral("keep"))
                    chosen.choices.colour = picture_files::ColourChoice::Keep;
                else if (value == QStringLiteral("srgb"))
                    chosen.choices.colour = picture_files::ColourChoice::Srgb;
                else
                    return {usageError(QStringLiteral("--colour は keep か srgb です: ") + value),
                            {}};
            } else if (a == QStringLiteral("--metadata")) {
                using Choice = platform::metadata::Choice;
                if (value == QStringLiteral("safe"))
                    chosen.choices.metadata = Choice::Safe;
                else if (value == QStringLiteral("all"))
                    chosen.choices.metadata = Choice::All;
                else if (value == QStringLiteral("none"))
                    chosen.choices.metadata = Choice::None;
                else
                    return {
                        usageError(QStringLiteral("--metadata は safe、all、none のどれかです: ") +
                                   value),
                        {}};
            } else if (a == QStringLiteral("--output")) {
                output = value;
            } else {
                outputDir = value;
            }
        } else if (!endOfOptions && a.startsWith(u'-') && a.size() > 1) {
            return {usageError(QStringLiteral("知らないオプションです: ") + a), {}};
        } else {
            inputs << a;
        }
    }
    if (!options)
        return {std::nullopt, inputs.value(0)};

    // Without windows from here: no display, no lock.
    if (output.isEmpty() == outputDir.isEmpty())
        return {usageError(QStringLiteral("--output か --output-dir のどちらかを指定してください")),
                {}};
    if (inputs.isEmpty())
        return {usageError(QStringLiteral("入力ファイルがありません")), {}};
    if (!output.isEmpty() && inputs.size() != 1)
        return {usageError(QStringLiteral("--output には入力をひとつだけ指定します")), {}};
    // A folder that is not there is said as such, not as a file that cannot be opened.
    const QString folder = output.isEmpty() ? outputDir : QFileInfo(output).absolutePath();
    if (!platform::kindOf(folder).folder) {
        std::fprintf(stderr, "mipoquibbo: %s: 出力先のフォルダがありません\n",
                     platform::nameBytes(folder).constData());
        return {1, {}};
    }
    QList<picture_files::Conversion> conversions;
    for (const QString &in : inputs)
        conversions << picture_files::Conversion{
            in, output.isEmpty() ? QDir(outputDir).filePath(QFileInfo(in).completeBaseName() +
                                                            QStringLiteral(".jpg"))
                                 : output};
    // Each file takes and gives back the same large pieces (its pixels, its
    // coefficients, its output): kept by the allocator rather than handed
    // back to the system, they need not be mapped and cleared again for the
    // next file, which costs as much as a third of the work.
    // Set before any thread is started, as mallopt must be.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // NOLINT(concurrency-mt-unsafe)
    mallopt(M_TRIM_THRESHOLD, 512 << 20); // NOLINT(concurrency-mt-unsafe)
    QCoreApplication app(argc, argv);
    // The reasons go out in the program's own words, once a file.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false"));
    platform::metadata::initialise();
    platform::QtPictureLoader loader;
    jpeg_encoder::LibjpegWriter writer;
    QTextStream errors(stderr);
    platform::FreedesktopTrash trash;
    // One conversion per core, the encoder's own threads filling the gaps,
    // together within what one picture of the largest accepted size may take.
    const int failed = picture_files::convertFiles(
        conversions, chosen,
        {loader, writer, trash, QThread::idealThreadCount(),
         picture_files::conversionBytes(platform::QtPictureLoader::MaxPixels)},
        errors);
    return {failed ? 1 : 0, {}};
}

} // namespace command_line
