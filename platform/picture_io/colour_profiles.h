#pragma once
// Colour profiles on Little CMS 2. A picture carries the ICC profile its
// pixels are in as its QColorSpace (Qt keeps the profile's bytes even where
// it cannot read them itself); no profile means sRGB.

#include <QByteArray>
#include <QImage>

#include <optional>

namespace platform::colour
{

// The profile the picture's pixels are in; empty for sRGB or none.
QByteArray profileOf(const QImage &picture);
// Says, without touching the pixels, which profile they are in; an empty
// one, or one that maps colours as sRGB does, says sRGB.
void setProfile(QImage &picture, const QByteArray &icc);

// The picture's pixels as the profile its file gave says, where they can
// stay so: an RGB profile other than sRGB travels with the picture into the
// file; a grey one is applied now; any other (a CMYK profile on pixels a
// reader made RGB) is dropped.
void adopt(QImage &picture, const QByteArray &icc);

enum class Space { Unreadable, Rgb, Grey, Cmyk, Other };
// The colour space the profile's device side describes.
Space spaceOf(const QByteArray &icc);
// Whether the profile maps every colour as sRGB does, to within a level.
bool isSrgb(const QByteArray &icc);

// The picture's pixels in sRGB, through its profile with relative
// colorimetric intent and black point compensation, carrying no profile.
// A picture in sRGB already is returned as it is.
QImage toSrgb(const QImage &picture);

// CMYK samples (4 bytes a pixel; inverted as Adobe writes them when so said)
// through their profile into 32-bit sRGB; null when the profile is no CMYK
// profile or memory runs out.
QImage cmykToSrgb(const uchar *samples, int width, int height, qsizetype bytesPerLine,
                  const QByteArray &icc, bool inverted);

// An RGB profile from chromaticities and a transfer curve, as PNG's gAMA and
// cHRM chunks or a video-style colour description give them. The curve is a
// pure power (decoding exponent) or, with srgbCurve, sRGB's own.
struct Chromaticities {
    double whiteX = 0.3127, whiteY = 0.3290;
    double redX = 0.64, redY = 0.33;
    double greenX = 0.30, greenY = 0.60;
    double blueX = 0.15, blueY = 0.06;
};
QByteArray rgbProfile(const Chromaticities &c, double decodingGamma, bool srgbCurve = false);

} // namespace platform::colour
