#pragma once
// Picture formats told from their first bytes, and the readers Qt has none
// of: HEIF (HEIC, AVIF) on libheif, JPEG XL on libjxl, and CMYK JPEGs that
// carry a press profile on libjpeg and Little CMS. Each refuses a picture
// that breaks the limits from its header, before decoding it.

#include "platform/picture_io/picture_checks.h"
#include "platform/picture_io/picture_metadata.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace platform::picture_formats
{

enum class Kind {
    Unknown, // no picture format known here
    Jpeg,
    Png,
    Gif,
    Bmp,
    WebP,
    Tiff,
    Heif, // HEIC and AVIF alike
    JpegXl,
    Foreign // a picture format known by name, without a reader here
};

struct Sniffed {
    Kind kind = Kind::Unknown;
    QString name; // as users know it: "HEIC", "AVIF", "PSD"; empty where unknown
};
Sniffed sniff(const uchar *data, qsizetype size);

// The primary image, turned and mirrored as the file says, 8 bits a channel,
// its colour profile and metadata attached; null where it cannot be read.
QImage decodeHeif(const uchar *data, qsizetype size, const picture_checks::Limits &limits);
// The first frame, as the file says it is to be shown.
QImage decodeJpegXl(const uchar *data, qsizetype size, const picture_checks::Limits &limits);
// A CMYK or YCCK JPEG with a CMYK profile, through the profile into sRGB;
// null for any other JPEG, which Qt reads.
QImage decodeProfiledCmykJpeg(const uchar *data, qsizetype size,
                              const picture_checks::Limits &limits);

// Whether a PNG is one Qt's reader gets wrong: 16-bit colour with a
// transparent colour (tRNS), which it turns into stripes, or a palette
// shorter than its indices reach, whose missing colours it makes the first.
bool qtMisreadsPng(const uchar *data, qsizetype size);
// A PNG through libpng as RGBA, 16 bits a channel where the file has 16;
// colours beyond a short palette opaque black, as libpng and browsers show
// them. Null where it cannot be read.
QImage decodePng(const uchar *data, qsizetype size, const picture_checks::Limits &limits);

// The colour profile a PNG file gives: its iCCP profile, none for sRGB,
// one made from gAMA (and cHRM); empty where it says nothing.
QByteArray pngProfile(const uchar *data, qsizetype size);

// The picture turned upright from an Exif orientation (1 to 8).
QImage upright(const QImage &picture, int orientation);

} // namespace platform::picture_formats
