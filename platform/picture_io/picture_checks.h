#pragma once
// What a picture file must show before it is decoded: a size the program
// accepts, a decoder's working memory within bounds, and (for JPEG) a sane
// structure that ends where it should. Reads only the bytes it needs.

#include <QByteArray>
#include <QSize>

class QIODevice;

namespace platform::picture_checks
{

struct Limits {
    // Pixels of the decoded picture.
    qint64 maxPixels = 120'000'000;
    // What decoding may take: the picture and the decoder's own buffers.
    qint64 maxDecodeBytes = 480'000'000;
    // JPEG scans; real encoders write a few dozen at most.
    int maxScans = 200;
    // Files larger than this are no picture of an accepted size.
    qint64 maxFileBytes = 2LL << 30;
};

// The facts a JPEG walk gathers.
struct JpegFacts {
    QSize size;
    int components = 0;
    bool progressive = false;
    int scans = 0;
    bool complete = false; // the end-of-image marker follows a scan
    qint64 coefficientBytes = 0;
};

// Walks a JPEG's markers from the device's start, without decoding. Stops
// early (complete = false) when the file breaks a limit.
JpegFacts walkJpeg(QIODevice &file, const Limits &limits);

// A JPEG's segments before its first scan (where its metadata and frame
// header are), ended as a file of headers alone; empty for no JPEG.
QByteArray jpegHeaders(QIODevice &file);

// Whether the file, of the format Qt's reader named, may be decoded: it
// breaks no limit and does not end early.
bool acceptable(QIODevice &file, const QByteArray &format, const Limits &limits);

} // namespace platform::picture_checks
