// libpng's own test pictures (tests/data/png, see its README) through the
// picture loader, against libpng's decode of the same file with Little CMS
// for what its colour chunks say: every file libpng reads is either the same
// picture or refused, and no file crashes the loader.
#include "core/runtime.h"
#include "platform/picture_io/picture_loader.h"
#include "widgets/definitions.h"
#include "widgets/flatten.h"

#include <QColorSpace>
#include <QDirIterator>
#include <QTest>

#include <csetjmp>
#include <cstring>
#include <vector>

#include <lcms2.h>
#include <png.h>

namespace
{

// A picture as 16-bit RGBA, with what its colour chunks say.
struct Reference {
    int width = 0, height = 0;
    std::vector<uint16_t> rgba;
    bool srgbChunk = false;
    QByteArray icc;   // iCCP
    double gamma = 0; // gAMA, the decoding exponent
    cmsCIExyYTRIPLE primaries{};
    cmsCIExyY white{};
    bool chromaticities = false; // cHRM
};

void refuse(png_structp png, png_const_charp)
{
    std::longjmp(png_jmpbuf(png), 1);
}
void quiet(png_structp, png_const_charp) {}

// libpng's decode, or false where libpng refuses the file.
bool decodeWithLibpng(const QByteArray &file, Reference &out)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, refuse, quiet);
    png_infop info = png_create_info_struct(png);
    struct Source {
        const QByteArray *bytes;
        qsizetype at;
    } source{&file, 0};
    png_set_read_fn(png, &source, [](png_structp p, png_bytep into, size_t n) {
        auto *s = static_cast<Source *>(png_get_io_ptr(p));
        if (s->at + qsizetype(n) > s->bytes->size())
            png_error(p, "read past the end");
        std::memcpy(into, s->bytes->constData() + s->at, n);
        s->at += qsizetype(n);
    });
    std::vector<png_bytep> rows;
    std::vector<uint8_t> pixels;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_read_info(png, info);
    out.width = int(png_get_image_width(png, info));
    out.height = int(png_get_image_height(png, info));
    if (png_get_valid(png, info, PNG_INFO_sRGB))
        out.srgbChunk = true;
    png_charp name = nullptr;
    png_bytep profile = nullptr;
    png_uint_32 profileSize = 0;
    int compression = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &profileSize))
        out.icc = QByteArray(reinterpret_cast<const char *>(profile), qsizetype(profileSize));
    double fileGamma = 0;
    if (png_get_gAMA(png, info, &fileGamma) && fileGamma > 0)
        out.gamma = 1 / fileGamma;
    double wx, wy, rx, ry, gx, gy, bx, by;
    if (png_get_cHRM(png, info, &wx, &wy, &rx, &ry, &gx, &gy, &bx, &by)) {
        out.chromaticities = true;
        out.white = {wx, wy, 1};
        out.primaries = {{rx, ry, 1}, {gx, gy, 1}, {bx, by, 1}};
    }
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    png_set_expand_16(png);
    png_set_filler(png, 0xFFFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t stride = png_get_rowbytes(png, info);
    if (stride != size_t(out.width) * 8)
        png_error(png, "not 16-bit RGBA after the transformations");
    pixels.resize(stride * size_t(out.height));
    rows.reserve(size_t(out.height));
    for (int y = 0; y < out.height; ++y)
        rows.push_back(pixels.data() + size_t(y) * stride);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    out.rgba.resize(pixels.size() / 2);
    for (size_t i = 0; i < out.rgba.size(); ++i)
        out.rgba[i] = uint16_t(pixels[2 * i] << 8 | pixels[2 * i + 1]);
    return true;
}

// The colour profile the file's chunks give, or none for sRGB: sRGB wins,
// then iCCP, then gAMA with cHRM (sRGB's primaries without).
cmsHPROFILE profileOf(const Reference &r)
{
    if (r.srgbChunk)
        return nullptr;
    if (!r.icc.isEmpty())
        return cmsOpenProfileFromMem(r.icc.constData(), cmsUInt32Number(r.icc.size()));
    if (r.gamma <= 0 || r.gamma > 10)
        return nullptr;
    cmsToneCurve *curve = cmsBuildGamma(nullptr, r.gamma);
    cmsToneCurve *curves[3] = {curve, curve, curve};
    const cmsCIExyY d65 = {0.3127, 0.3290, 1};
    const cmsCIExyYTRIPLE srgbPrimaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    cmsHPROFILE p = cmsCreateRGBProfile(r.chromaticities ? &r.white : &d65,
                                        r.chromaticities ? &r.primaries : &srgbPrimaries, curves);
    cmsFreeToneCurve(curve);
    return p;
}

// The reference laid on the background in the file's own colours, in 8 bits
// as the program keeps them.
QImage expected(const Reference &r, QRgb background)
{
    QImage flat(r.width, r.height, QImage::Format_RGB32);
    const int back[3] = {qRed(background), qGreen(background), qBlue(background)};
    for (int y = 0; y < r.height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(flat.scanLine(y));
        for (int x = 0; x < r.width; ++x) {
            const uint16_t *p = r.rgba.data() + (size_t(y) * size_t(r.width) + size_t(x)) * 4;
            const double alpha = p[3] / 65535.0;
            int v[3];
            for (size_t c = 0; c < 3; ++c)
                v[c] = int(
                    std::lround((alpha * p[c] / 65535.0 + (1 - alpha) * back[c] / 255.0) * 255));
            line[x] = qRgb(v[0], v[1], v[2]);
        }
    }
    return flat;
}

// Pixels in the file's colours seen in sRGB through what its chunks say,
// by Little CMS.
QImage inSrgb(const QImage &picture, const Reference &r)
{
    QImage out = picture.convertToFormat(QImage::Format_RGB888);
    cmsHPROFILE from = profileOf(r);
    if (!from)
        return out.convertToFormat(QImage::Format_RGB32);
    cmsHPROFILE to = cmsCreate_sRGBProfile();
    const bool grey = cmsGetColorSpace(from) == cmsSigGrayData;
    cmsHTRANSFORM t = cmsCreateTransform(from, grey ? TYPE_GRAY_8 : TYPE_RGB_8, to, TYPE_RGB_8,
                                         INTENT_PERCEPTUAL, 0);
    for (int y = 0; t && y < out.height(); ++y) {
        uchar *line = out.scanLine(y);
        if (grey) {
            std::vector<uchar> levels(size_t(out.width()));
            for (size_t x = 0; x < levels.size(); ++x)
                levels[x] = line[3 * x];
            cmsDoTransform(t, levels.data(), line, cmsUInt32Number(out.width()));
        } else {
            cmsDoTransform(t, line, line, cmsUInt32Number(out.width()));
        }
    }
    if (t)
        cmsDeleteTransform(t);
    cmsCloseProfile(to);
    cmsCloseProfile(from);
    return out.convertToFormat(QImage::Format_RGB32);
}

int largestDifference(const QImage &a, const QImage &b)
{
    int most = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            most = std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                             std::abs(qBlue(p) - qBlue(q))});
        }
    return most;
}

QStringList pngsUnder(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.png")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

} // namespace

class TestPngSuite : public QObject
{
    Q_OBJECT
    const QString data = QStringLiteral(MIPO_PNG_DATA);
    platform::QtPictureLoader loader;

    // The loaded picture, or null where the loader refuses the file with a
    // message for the user.
    QImage load(const QString &path, QString *message = nullptr)
    {
        try {
            return loader.load(path);
        } catch (const rt::RuntimeError &e) {
            if (message)
                *message = e.text();
            return {};
        }
    }

private slots:
    void everyFileLibpngReadsLoadsTheSameOrIsRefused()
    {
        const QRgb background = defs::color(defs::PictureBackground).rgb();
        const QStringList files = pngsUnder(data);
        QVERIFY(files.size() > 150);
        QStringList wrong;
        QStringList refused;
        int compared = 0, profiled = 0;
        for (const QString &path : files) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            Reference reference;
            const bool libpngReads = decodeWithLibpng(file.readAll(), reference);
            QString message;
            const QImage loaded = load(path, &message);
            const QString name = QDir(data).relativeFilePath(path);
            if (!libpngReads) {
                if (!loaded.isNull() || message.isEmpty())
                    wrong << name + QStringLiteral(": libpng refuses it, the loader does not");
                continue;
            }
            if (loaded.isNull()) {
                if (message.isEmpty())
                    wrong << name + QStringLiteral(": refused without a message");
                refused << name;
                continue;
            }
            if (loaded.size() != QSize(reference.width, reference.height)) {
                wrong << name + QStringLiteral(": size");
                continue;
            }
            // The pixels, laid on the background as the converter does.
            const QImage flat = flattenOnto(loaded, QColor(background));
            const int difference = largestDifference(flat.convertToFormat(QImage::Format_RGB32),
                                                     expected(reference, background));
            if (difference > 1)
                wrong << name + QStringLiteral(": off by %1").arg(difference);
            // The colours: seen in sRGB through the profile the picture
            // carries (Qt), against through what the file's chunks say.
            QImage seen = flat.convertToFormat(QImage::Format_RGB32);
            if (flat.colorSpace().isValid()) {
                seen.setColorSpace(flat.colorSpace());
                seen.convertToColorSpace(QColorSpace::SRgb);
                ++profiled;
            }
            const int colourDifference = largestDifference(seen, inSrgb(flat, reference));
            if (colourDifference > 2)
                wrong << name + QStringLiteral(": colours off by %1").arg(colourDifference);
            ++compared;
        }
        if (!refused.isEmpty())
            qInfo() << "refused:" << refused;
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
        QVERIFY(compared > 150);
        qInfo() << compared << "compared," << profiled << "with a colour profile";
        QVERIFY(profiled > 10);
    }

    // Files made to crash decoders: none brings the loader down, and all
    // but one are refused (with a message, checked above with the rest).
    void crashersAreRefused()
    {
        const QStringList files = pngsUnder(data + QStringLiteral("/testpngs/crashers"));
        QCOMPARE(files.size(), 23);
        QStringList read;
        for (const QString &path : files)
            if (!load(path).isNull())
                read << QFileInfo(path).fileName();
        // Its ancillary chunks are all empty, which libpng only warns of;
        // its one pixel is sound.
        QCOMPARE(read, QStringList{QStringLiteral("empty_ancillary_chunks.png")});
    }
};

QTEST_GUILESS_MAIN(TestPngSuite)
#include "test_png_suite.moc"
