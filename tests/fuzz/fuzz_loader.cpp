// libFuzzer target: arbitrary bytes as a picture, opened as Open does. Each
// input is copied into a heap buffer of exactly its size, so that AddressSanitizer
// sees any read past its end.
#include "platform/picture_io/picture_checks.h"
#include "platform/picture_io/picture_loader.h"

#include <QBuffer>
#include <QGuiApplication>

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_loader";
    static char *argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::unique_ptr<char[]> exact(new char[size ? size : 1]);
    if (size)
        std::memcpy(exact.get(), data, size);
    const QByteArray bytes = QByteArray::fromRawData(exact.get(), qsizetype(size));
    QBuffer device;
    device.setData(bytes);
    if (!device.open(QIODevice::ReadOnly))
        return 0;
    // The walk on its own, then the whole load.
    platform::picture_checks::walkJpeg(device, platform::QtPictureLoader::limits());
    const QImage picture = platform::QtPictureLoader::decode(device);
    // Touch every row, as showing and saving it would.
    volatile uint32_t sum = 0;
    for (int y = 0; y < picture.height(); ++y)
        sum = sum + picture.constScanLine(y)[0];
    return 0;
}
