#include "platform/picture_io/picture_loader.h"

#include "core/runtime.h"
#include "platform/files/file_names.h"
#include "platform/picture_io/colour_profiles.h"
#include "platform/picture_io/picture_formats.h"
#include "platform/picture_io/picture_metadata.h"

#include <QBuffer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace platform
{

namespace
{
// A large picture's buffer on transparent huge pages: one fault per 2 MB
// instead of one per 4 KB page while the decoder fills it. From the
// allocator rather than a mapping of its own: in a batch, where the allocator
// keeps what it is given back, the next picture reuses the pages instead of
// having the system clear fresh ones. Null when that is not worth it or not
// to be had; the reader then allocates as usual.
QImage hugePageImage(QSize size, QImage::Format format)
{
    constexpr size_t Huge = 2u << 20;
    if (format == QImage::Format_Invalid || size.isEmpty())
        return {};
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const qsizetype bytesPerLine = ((qsizetype(size.width()) * depth + 31) / 32) * 4;
    const size_t bytes = size_t(bytesPerLine) * size_t(size.height());
    if (bytes < 4 * Huge)
        return {};
    // aligned_alloc wants a multiple of the alignment.
    const size_t length = (bytes + Huge - 1) / Huge * Huge;
    auto *data = static_cast<uchar *>(std::aligned_alloc(Huge, length));
    if (!data)
        return {};
    ::madvise(data, length, MADV_HUGEPAGE);
    return QImage(
        data, size.width(), size.height(), bytesPerLine, format,
        [](void *buffer) { std::free(buffer); }, data);
}
} // namespace

QtPictureLoader::QtPictureLoader()
{
    // In megabytes, for the decoded picture: room for the largest accepted photo.
    QImageReader::setAllocationLimit(int(MaxPixels * 4 / (1 << 20)) + 64);
}

namespace
{
// The file opened by its name's own bytes; false when it is no regular file.
bool openRegular(const QString &path, QFile &file, int &error)
{
    const int fd =
        ::open(nameBytes(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    error = fd < 0 ? errno : 0;
    struct stat st {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    // Unbuffered: the checks read large pieces, the decoders their own.
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}
} // namespace

QImage QtPictureLoader::load(const QString &path)
{
    QFile file;
    int error = 0;
    if (!openRegular(path, file, error))
        throw rt::RuntimeError(error == ENOENT || error == ENOTDIR ? rt::ErrFileNotFound
                                                                   : rt::ErrInvalidPicture);
    QImage picture = decodePainting(file);
    if (picture.isNull()) {
        // A kind of file read nowhere here is told apart from a damaged picture.
        file.seek(0);
        const QByteArray head = file.read(4096);
        const picture_formats::Sniffed kind =
            picture_formats::sniff(reinterpret_cast<const uchar *>(head.constData()), head.size());
        file.seek(0);
        QImageReader reader(&file);
        if (kind.kind == picture_formats::Kind::Foreign ||
            (kind.kind == picture_formats::Kind::Unknown && !reader.canRead()))
            throw rt::RuntimeError(rt::ErrInvalidFileFormat, kind.name);
        throw rt::RuntimeError(rt::ErrInvalidPicture);
    }
    return picture;
}

QImage QtPictureLoader::decodePainting(QIODevice &device)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!qobject_cast<QGuiApplication *>(app) || QThread::currentThread() != app->thread())
        return decode(device);
    // A large photo takes a good part of a second: the windows paint meanwhile
    // while input waits, as the command has not done with the picture yet.
    const PaintingWait held;
    QEventLoop wait;
    QImage picture;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            picture = decode(device);
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
    return picture;
}

namespace
{
// What the readers of our own and the metadata need of a device, read with
// plain reads (a mapping would fault if the file shrank under it).
QByteArray wholeContent(QIODevice &device, qint64 maxBytes)
{
    if (auto *buffer = qobject_cast<QBuffer *>(&device))
        return buffer->data();
    if (device.size() > maxBytes || !device.seek(0))
        return {};
    QByteArray bytes = device.read(device.size());
    device.seek(0);
    return bytes;
}

// The components a JPEG's frame header gives, from its headers alone.
// Qt's name of the reader for a file of the kind that starts with head;
// empty where Qt is to tell from the content.
QByteArray qtFormatOf(picture_formats::Kind kind, const QByteArray &head)
{
    using picture_formats::Kind;
    // Netpbm: "P1" to "P6" and a space; Qt reads all six as "ppm".
    if (kind == Kind::Unknown && head.size() >= 3 && head[0] == 'P' && head[1] >= '1' &&
        head[1] <= '6' && QChar::isSpace(uchar(head[2])))
        return "ppm";
    static constexpr std::pair<Kind, const char *> Names[] = {
        {Kind::Jpeg, "jpeg"}, {Kind::Png, "png"},   {Kind::Gif, "gif"},
        {Kind::Bmp, "bmp"},   {Kind::WebP, "webp"}, {Kind::Tiff, "tiff"},
    };
    for (const auto &[named, name] : Names)
        if (named == kind)
            return name;
    return {};
}

int jpegComponents(const QByteArray &headers)
{
    QBuffer buffer;
    buffer.setData(headers);
    buffer.open(QIODevice::ReadOnly);
    return picture_checks::walkJpeg(buffer, QtPictureLoader::limits()).components;
}
} // namespace

QImage QtPictureLoader::decode(QIODevice &device, const QByteArray &format)
{
    if (!device.seek(0) || device.size() <= 0 || device.size() > limits().maxFileBytes)
        return {};
    QByteArray content = device.read(4096);
    const QByteArray head = content;
    using picture_formats::Kind;
    const Kind kind =
        picture_formats::sniff(reinterpret_cast<const uchar *>(content.constData()), content.size())
            .kind;
    const auto bytes = [&content] { return reinterpret_cast<const uchar *>(content.constData()); };
    if (format.isEmpty() && (kind == Kind::Heif || kind == Kind::JpegXl)) {
        content = wholeContent(device, limits().maxFileBytes);
        return kind == Kind::Heif
                   ? picture_formats::decodeHeif(bytes(), content.size(), limits())
                   : picture_formats::decodeJpegXl(bytes(), content.size(), limits());
    }
    // A JPEG's metadata is in its first segments; other formats may keep
    // theirs anywhere, GIF and BMP none.
    if (kind == Kind::Jpeg) {
        content = qobject_cast<QBuffer *>(&device) ? wholeContent(device, limits().maxFileBytes)
                                                   : picture_checks::jpegHeaders(device);
        if ((format.isEmpty() || format == "jpeg") && jpegComponents(content) == 4) {
            const QByteArray whole = wholeContent(device, limits().maxFileBytes);
            QImage cmyk = picture_formats::decodeProfiledCmykJpeg(
                reinterpret_cast<const uchar *>(whole.constData()), whole.size(), limits());
            if (!cmyk.isNull())
                return cmyk;
        }
    } else if (kind == Kind::Png || kind == Kind::WebP || kind == Kind::Tiff) {
        content = wholeContent(device, limits().maxFileBytes);
        if (kind == Kind::Png && picture_formats::qtMisreadsPng(bytes(), content.size())) {
            QImage picture = picture_formats::decodePng(bytes(), content.size(), limits());
            if (picture.isNull())
                return {};
            colour::adopt(picture, picture_formats::pngProfile(bytes(), content.size()));
            metadata::attach(picture, metadata::read(bytes(), content.size()).blocks);
            return picture;
        }
    } else {
        content.clear();
    }
    if (!device.seek(0))
        return {};
    // Named, and with Qt's guessing off, the kind's reader is the only one
    // loaded; to guess, even for a kind it reads itself, Qt loads every image
    // plugin installed to ask each one, some milliseconds of every conversion.
    const QByteArray named = format.isEmpty() ? qtFormatOf(kind, head) : format;
    QImageReader reader(&device, named);
    reader.setAutoDetectImageFormat(named.isEmpty());
    reader.setDecideFormatFromContent(named.isEmpty());
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return {};
    const QSize size = reader.size();
    const QByteArray kindName = reader.format();
    if (size.isValid() && qint64(size.width()) * size.height() > MaxPixels)
        return {};
    // The checks read from the start; the reader goes on from where it was.
    const qint64 at = device.pos();
    const bool fine = picture_checks::acceptable(device, kindName, limits());
    if (!fine || !device.seek(at))
        return {};
    QImage picture = hugePageImage(size, reader.imageFormat());
    if (!reader.read(&picture))
        return {};
    colour::adopt(picture, kind == Kind::Png ? picture_formats::pngProfile(bytes(), content.size())
                                             : colour::profileOf(picture));
    if (!content.isEmpty())
        metadata::attach(picture, metadata::read(bytes(), content.size()).blocks);
    return picture;
}

picture_checks::Limits QtPictureLoader::limits()
{
    picture_checks::Limits l;
    l.maxPixels = MaxPixels;
    l.maxDecodeBytes = MaxPixels * 4;
    return l;
}

qint64 QtPictureLoader::pixelsOf(const QString &path)
{
    QFile file;
    int error = 0;
    if (!openRegular(path, file, error))
        return 0;
    const QByteArray head = file.read(4096);
    const QByteArray named = qtFormatOf(
        picture_formats::sniff(reinterpret_cast<const uchar *>(head.constData()), head.size()).kind,
        head);
    if (!named.isEmpty() && file.seek(0)) {
        QImageReader reader(&file, named);
        reader.setAutoDetectImageFormat(false);
        if (const QSize size = reader.size(); size.isValid() && !size.isEmpty())
            return std::min(qint64(size.width()) * size.height(), MaxPixels);
    }
    // Formats whose size Qt's reader does not tell (HEIF, JPEG XL) hold a
    // photo in about a tenth of a byte a pixel.
    return std::min(file.size() * 10, MaxPixels);
}

bool QtPictureLoader::isPicture(const QString &path)
{
    QFile file;
    int error = 0;
    if (!openRegular(path, file, error))
        return false;
    const QByteArray head = file.read(4096);
    if (picture_formats::sniff(reinterpret_cast<const uchar *>(head.constData()), head.size())
            .kind != picture_formats::Kind::Unknown)
        return true;
    file.seek(0);
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    return reader.canRead();
}

} // namespace platform
