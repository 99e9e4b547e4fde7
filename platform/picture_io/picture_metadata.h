#pragma once
// What a picture file says about the picture (Exif, XMP, IPTC) on Exiv2,
// carried with the decoded picture to the JPEG file. As the loader attaches
// it, it describes the upright pixels: orientation 1, no thumbnail.

#include <QByteArray>
#include <QImage>

namespace platform::metadata
{

struct Blocks {
    QByteArray exif; // a TIFF structure, as a JPEG's Exif segment holds it
    QByteArray xmp;  // an XMP packet
    QByteArray iptc; // IPTC data sets
    bool empty() const { return exif.isEmpty() && xmp.isEmpty() && iptc.isEmpty(); }
};

// What a picture file in memory holds, in any format Exiv2 reads; empty
// blocks where it holds none or cannot be read. The Exif orientation is
// given separately: the caller turns the pixels, the blocks then say 1.
struct Read {
    Blocks blocks;
    int orientation = 1;
};
Read read(const uchar *data, qsizetype size);
// The same from the blocks a container gave as they are (a HEIF item's Exif
// starts with the offset of its TIFF header, which is taken off here).
Read fromBlocks(const QByteArray &exif, const QByteArray &xmp, bool exifHasOffset);

void attach(QImage &picture, const Blocks &blocks);
Blocks of(const QImage &picture);

// What goes into the written file.
enum class Choice {
    Safe, // the date taken, camera and lens, exposure, artist, copyright, description
    All,  // everything, location too
    None,
};
// Leaves on the picture only what the choice keeps, with the picture's size.
void keepOnly(QImage &picture, Choice choice);

// The IPTC data sets as a JPEG's Photoshop segment holds them, after its name.
QByteArray photoshopResources(const QByteArray &iptc);

// Exiv2 takes a lock for its XMP toolkit on each thread; once, before any thread reads.
void initialise();

} // namespace platform::metadata
