#pragma once
// What the file says beside the picture: the colour profile the pixels are
// in and the metadata that travelled with them, as JPEG's own segments.

#include <QByteArray>
#include <QImage>

#include <jpeglib.h>

namespace jpeg_encoder
{

struct Markers {
    QByteArray iccProfile; // split by libjpeg into as many APP2 segments as it takes
    QByteArray exif;       // APP1 payloads, their names included
    QByteArray xmp;
    QByteArray photoshop; // APP13, the IPTC data
};

// Those of the picture; an RGB profile only.
Markers markersOf(const QImage &picture);
// Written after the file's header, before its first frame.
void writeMarkers(jpeg_compress_struct &cinfo, const Markers &markers);

} // namespace jpeg_encoder
