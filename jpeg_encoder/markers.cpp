#include "jpeg_encoder/markers.h"

#include "platform/picture_io/colour_profiles.h"
#include "platform/picture_io/picture_metadata.h"

namespace jpeg_encoder
{

namespace
{
// What one segment holds after its length.
constexpr qsizetype MaxPayload = 65533;
} // namespace

Markers markersOf(const QImage &picture)
{
    namespace colour = platform::colour;
    Markers m;
    // A picture in sRGB carries none: the loader left it without one.
    const QByteArray icc = colour::profileOf(picture);
    if (colour::spaceOf(icc) == colour::Space::Rgb)
        m.iccProfile = icc;
    const platform::metadata::Blocks blocks = platform::metadata::of(picture);
    if (!blocks.exif.isEmpty())
        m.exif = QByteArray("Exif\0\0", 6) + blocks.exif;
    if (!blocks.xmp.isEmpty())
        m.xmp = QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + blocks.xmp;
    if (const QByteArray irb = platform::metadata::photoshopResources(blocks.iptc); !irb.isEmpty())
        m.photoshop = QByteArray("Photoshop 3.0\0", 14) + irb;
    // What does not fit one segment is left out rather than cut.
    for (QByteArray *payload : {&m.exif, &m.xmp, &m.photoshop})
        if (payload->size() > MaxPayload)
            payload->clear();
    return m;
}

void writeMarkers(jpeg_compress_struct &cinfo, const Markers &markers)
{
    const auto put = [&cinfo](int marker, const QByteArray &payload) {
        if (!payload.isEmpty())
            jpeg_write_marker(&cinfo, marker, reinterpret_cast<const JOCTET *>(payload.constData()),
                              unsigned(payload.size()));
    };
    put(JPEG_APP0 + 1, markers.exif);
    put(JPEG_APP0 + 1, markers.xmp);
    if (!markers.iccProfile.isEmpty())
        jpeg_write_icc_profile(&cinfo,
                               reinterpret_cast<const JOCTET *>(markers.iccProfile.constData()),
                               unsigned(markers.iccProfile.size()));
    put(JPEG_APP0 + 13, markers.photoshop);
}

} // namespace jpeg_encoder
