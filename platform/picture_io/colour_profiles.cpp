#include "platform/picture_io/colour_profiles.h"

#include <QColorSpace>

#include <lcms2.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>

namespace platform::colour
{

namespace
{

struct ProfileCloser {
    void operator()(void *p) const { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;
struct TransformDeleter {
    void operator()(void *t) const { cmsDeleteTransform(t); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

// Little CMS reports bad profiles through a handler; a profile it cannot
// read is simply no profile here.
void quietErrors(cmsContext, cmsUInt32Number, const char *) {}

Profile open(const QByteArray &icc)
{
    static const bool quiet = (cmsSetLogErrorHandler(quietErrors), true);
    (void)quiet;
    if (icc.size() < 132)
        return Profile(nullptr);
    return Profile(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
}

Profile srgb()
{
    return Profile(cmsCreate_sRGBProfile());
}

// No cache: the same transform runs on two threads at once.
constexpr cmsUInt32Number Flags =
    cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_COPY_ALPHA | cmsFLAGS_NOCACHE;

// Rows through the transform, the lower half on a thread of its own: a
// phone's 12-megapixel photo takes a good part of a second on one core.
void transformRows(cmsHTRANSFORM t, const uchar *in, qsizetype inStride, uchar *out,
                   qsizetype outStride, int width, int height)
{
    const auto run = [=](int first, int rows) {
        if (rows > 0)
            cmsDoTransformLineStride(t, in + first * inStride, out + first * outStride,
                                     cmsUInt32Number(width), cmsUInt32Number(rows),
                                     cmsUInt32Number(inStride), cmsUInt32Number(outStride), 0, 0);
    };
    const int half = height / 2;
    if (qint64(width) * height < (1 << 20)) {
        run(0, height);
        return;
    }
    std::thread lower(run, half, height - half);
    run(0, half);
    lower.join();
}

} // namespace

QByteArray profileOf(const QImage &picture)
{
    const QColorSpace space = picture.colorSpace();
    if (!space.isValid() && space.iccProfile().isEmpty())
        return {};
    if (space == QColorSpace(QColorSpace::SRgb))
        return {};
    return space.iccProfile();
}

void setProfile(QImage &picture, const QByteArray &icc)
{
    if (icc.isEmpty() || isSrgb(icc))
        picture.setColorSpace(QColorSpace());
    else
        picture.setColorSpace(QColorSpace::fromIccProfile(icc));
}

void adopt(QImage &picture, const QByteArray &icc)
{
    switch (spaceOf(icc)) {
    case Space::Rgb:
        setProfile(picture, icc);
        break;
    case Space::Grey:
        picture.setColorSpace(QColorSpace::fromIccProfile(icc));
        picture = toSrgb(picture);
        picture.setColorSpace(QColorSpace());
        break;
    default:
        picture.setColorSpace(QColorSpace());
        break;
    }
}

Space spaceOf(const QByteArray &icc)
{
    const Profile p = open(icc);
    if (!p)
        return Space::Unreadable;
    switch (cmsGetColorSpace(p.get())) {
    case cmsSigRgbData:
        return Space::Rgb;
    case cmsSigGrayData:
        return Space::Grey;
    case cmsSigCmykData:
        return Space::Cmyk;
    default:
        return Space::Other;
    }
}

bool isSrgb(const QByteArray &icc)
{
    if (icc.isEmpty())
        return true;
    const Profile from = open(icc), to = srgb();
    if (!from || cmsGetColorSpace(from.get()) != cmsSigRgbData)
        return false;
    const Transform t(cmsCreateTransform(from.get(), TYPE_RGB_8, to.get(), TYPE_RGB_8,
                                         INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE));
    if (!t)
        return false;
    // Every ninth level of each channel, and the greys between.
    constexpr int Steps = 9;
    std::array<unsigned char, size_t(3) * (Steps * Steps * Steps + 256)> in{}, out{};
    size_t n = 0;
    for (int r = 0; r < Steps; ++r)
        for (int g = 0; g < Steps; ++g)
            for (int b = 0; b < Steps; ++b) {
                in[n++] = static_cast<unsigned char>(r * 255 / (Steps - 1));
                in[n++] = static_cast<unsigned char>(g * 255 / (Steps - 1));
                in[n++] = static_cast<unsigned char>(b * 255 / (Steps - 1));
            }
    for (int v = 0; v < 256; ++v)
        for (int c = 0; c < 3; ++c)
            in[n++] = static_cast<unsigned char>(v);
    cmsDoTransform(t.get(), in.data(), out.data(), cmsUInt32Number(n / 3));
    for (size_t i = 0; i < n; ++i)
        if (std::abs(int(in[i]) - int(out[i])) > 1)
            return false;
    return true;
}

QImage toSrgb(const QImage &picture)
{
    const QByteArray icc = profileOf(picture);
    if (icc.isEmpty() || picture.isNull())
        return picture;
    const Profile from = open(icc), to = srgb();
    if (!from)
        return picture;
    const cmsColorSpaceSignature space = cmsGetColorSpace(from.get());
    QImage source;
    cmsUInt32Number inType = 0;
    if (space == cmsSigGrayData) {
        source = picture.convertToFormat(QImage::Format_Grayscale8);
        inType = TYPE_GRAY_8;
    } else if (space == cmsSigRgbData) {
        source = picture.hasAlphaChannel() ? picture.convertToFormat(QImage::Format_ARGB32)
                                           : picture.convertToFormat(QImage::Format_RGB32);
        // Qt's 32-bit pixels are B, G, R, A in memory on this little-endian machine.
        inType = TYPE_BGRA_8;
    } else {
        return picture;
    }
    const bool alpha = picture.hasAlphaChannel() && space == cmsSigRgbData;
    QImage result(picture.size(), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (result.isNull())
        throw std::bad_alloc();
    result.fill(0xFF000000u);
    const Transform t(cmsCreateTransform(
        from.get(), inType, to.get(), TYPE_BGRA_8, INTENT_RELATIVE_COLORIMETRIC,
        space == cmsSigRgbData ? Flags : cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE));
    if (!t)
        return picture;
    transformRows(t.get(), source.constBits(), source.bytesPerLine(), result.bits(),
                  result.bytesPerLine(), picture.width(), picture.height());
    result.setDotsPerMeterX(picture.dotsPerMeterX());
    result.setDotsPerMeterY(picture.dotsPerMeterY());
    for (const QString &key : picture.textKeys())
        result.setText(key, picture.text(key));
    return result;
}

QImage cmykToSrgb(const uchar *samples, int width, int height, qsizetype bytesPerLine,
                  const QByteArray &icc, bool inverted)
{
    const Profile from = open(icc), to = srgb();
    if (!from || cmsGetColorSpace(from.get()) != cmsSigCmykData)
        return {};
    const Transform t(cmsCreateTransform(from.get(), inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8,
                                         to.get(), TYPE_BGRA_8, INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE));
    if (!t)
        return {};
    QImage result(width, height, QImage::Format_RGB32);
    if (result.isNull())
        return {};
    result.fill(0xFF000000u);
    transformRows(t.get(), samples, bytesPerLine, result.bits(), result.bytesPerLine(), width,
                  height);
    return result;
}

QByteArray rgbProfile(const Chromaticities &c, double decodingGamma, bool srgbCurve)
{
    const cmsCIExyY white{c.whiteX, c.whiteY, 1.0};
    const cmsCIExyYTRIPLE primaries{
        {c.redX, c.redY, 1.0}, {c.greenX, c.greenY, 1.0}, {c.blueX, c.blueY, 1.0}};
    // sRGB's curve: linear near black, then a 2.4 power.
    const double srgbParameters[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve *curve = srgbCurve ? cmsBuildParametricToneCurve(nullptr, 4, srgbParameters)
                                    : cmsBuildGamma(nullptr, decodingGamma);
    if (!curve)
        return {};
    cmsToneCurve *curves[3] = {curve, curve, curve};
    const Profile p(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    if (!p)
        return {};
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(p.get(), nullptr, &size) || size == 0)
        return {};
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    if (!cmsSaveProfileToMem(p.get(), bytes.data(), &size))
        return {};
    return bytes;
}

} // namespace platform::colour
