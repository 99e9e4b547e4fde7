// libFuzzer target: arbitrary bytes as a picture file, opened as Open does.
#include "platform/linux_services.h"
#include "platform/runtime.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

namespace
{
QString g_path;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_loader";
    static char *argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    static QTemporaryDir dir(QStringLiteral("/dev/shm/mipo-fuzz-XXXXXX"));
    g_path = dir.filePath(QStringLiteral("input"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        QFile f(g_path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    static platform::QtPictureLoader loader;
    try {
        const QImage picture = loader.LoadPicture(g_path);
        // Touch every row, as showing and saving it would.
        volatile uint32_t sum = 0;
        for (int y = 0; y < picture.height(); ++y)
            sum = sum + picture.constScanLine(y)[0];
    } catch (const rt::RuntimeError &) {
    }
    return 0;
}
