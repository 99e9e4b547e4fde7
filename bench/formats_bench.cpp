// Opening a 12-megapixel HEIC, AVIF and WebP photo as Open does (the
// program's loader: header checks, decoding, colour profile, metadata, the
// picture as Save takes it) against the format library's own decode alone,
// each the best of several runs.
//   formats_bench SOURCE.ppm WORK_DIR
#include "platform/picture_io/colour_profiles.h"
#include "platform/picture_io/picture_formats.h"
#include "platform/picture_io/picture_loader.h"
#include "widgets/definitions.h"
#include "widgets/flatten.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>

#include <libheif/heif.h>
#include <webp/decode.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace
{
constexpr int Runs = 5;

double bestMs(const std::function<void()> &run)
{
    double best = 1e12;
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer t;
        t.start();
        run();
        best = std::min(best, double(t.nsecsElapsed()) / 1e6);
    }
    return best;
}

bool writeHeif(const QImage &source, heif_compression_format format, const QString &path)
{
    heif_context *ctx = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx, format, &encoder).code != heif_error_Ok)
        return false;
    heif_encoder_set_lossy_quality(encoder, 60);
    heif_encoder_set_parameter(encoder, "speed", "8");
    heif_image *image = nullptr;
    heif_image_create(source.width(), source.height(), heif_colorspace_RGB,
                      heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, source.width(), source.height(), 8);
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + qsizetype(y) * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    const bool ok =
        heif_context_encode_image(ctx, image, encoder, nullptr, nullptr).code == heif_error_Ok &&
        heif_context_write_to_file(ctx, QFile::encodeName(path).constData()).code == heif_error_Ok;
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(ctx);
    return ok;
}

// What heif-dec does before it writes its output: the primary image as 8-bit RGB.
void libheifAlone(const QString &path)
{
    heif_context *ctx = heif_context_alloc();
    heif_context_read_from_file(ctx, QFile::encodeName(path).constData(), nullptr);
    heif_image_handle *handle = nullptr;
    heif_context_get_primary_image_handle(ctx, &handle);
    heif_image *image = nullptr;
    heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr);
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(ctx);
}

// What dwebp does before it writes its output.
void libwebpAlone(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    int width = 0, height = 0;
    uint8_t *pixels = WebPDecodeRGBA(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                     size_t(bytes.size()), &width, &height);
    WebPFree(pixels);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: formats_bench SOURCE.ppm WORK_DIR\n");
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[1]));
    const QString work = QString::fromLocal8Bit(argv[2]);
    const QString heic = work + "/12mp.heic", avif = work + "/12mp.avif",
                  webp = work + "/12mp.webp";
    if (source.isNull() || !writeHeif(source, heif_compression_HEVC, heic) ||
        !writeHeif(source, heif_compression_AV1, avif) || !source.save(webp, "WEBP", 80)) {
        std::fprintf(stderr, "formats_bench: cannot make the pictures\n");
        return 1;
    }
    platform::QtPictureLoader loader;
    const auto open = [&](const QString &path) {
        const QImage picture = flattenOnto(loader.load(path), defs::color(defs::PictureBackground));
        if (picture.width() != source.width())
            std::abort();
    };
    std::printf("opening a %.1f MP photo, best of %d, ms (target <= 1.30 x the library alone)\n",
                source.width() * double(source.height()) / 1e6, Runs);
    const struct {
        const char *name;
        QString path;
        std::function<void(const QString &)> alone;
        const char *library;
    } rows[] = {{"HEIC", heic, libheifAlone, "libheif"},
                {"AVIF", avif, libheifAlone, "libheif"},
                {"WebP", webp, libwebpAlone, "libwebp"}};
    for (const auto &r : rows) {
        if (r.library == std::string("libheif")) {
            QFile f(r.path);
            f.open(QIODevice::ReadOnly);
            const QByteArray bytes = f.readAll();
            std::printf("  %-5s decodeHeif alone %7.1f\n", r.name, bestMs([&] {
                            (void)platform::picture_formats::decodeHeif(
                                reinterpret_cast<const uchar *>(bytes.constData()), bytes.size(),
                                platform::QtPictureLoader::limits());
                        }));
        }
        const double ours = bestMs([&] { open(r.path); });
        const double theirs = bestMs([&] { r.alone(r.path); });
        std::printf("  %-5s ours %7.1f  %s alone %7.1f  %.2f x: %s\n", r.name, ours, r.library,
                    theirs, ours / theirs, ours <= 1.3 * theirs ? "met" : "NOT met");
    }
    // What showing a phone's Display P3 photo in sRGB adds to opening it.
    platform::colour::Chromaticities p3;
    p3.redX = 0.680, p3.redY = 0.320, p3.greenX = 0.265, p3.greenY = 0.690;
    QImage wide = source.convertToFormat(QImage::Format_RGB32);
    platform::colour::setProfile(wide, platform::colour::rgbProfile(p3, 0, true));
    std::printf("  Display P3 shown in sRGB: %.1f ms\n",
                bestMs([&] { (void)platform::colour::toSrgb(wide); }));
    std::printf("  (Qt's own conversion: %.1f ms)\n",
                bestMs([&] { (void)wide.convertedToColorSpace(QColorSpace::SRgb); }));
    return 0;
}
