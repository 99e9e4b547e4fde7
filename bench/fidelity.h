#pragma once
// How close a decoded picture is to its source, for the benchmarks.

#include <QImage>

#include <cmath>

// Peak signal-to-noise ratio of the decoded picture against the source, RGB.
inline double psnr(const QImage &source, const QImage &decoded)
{
    if (decoded.size() != source.size())
        return 0;
    const QImage a = source.convertToFormat(QImage::Format_RGB32);
    const QImage b = decoded.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *pa = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *pb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int dr = qRed(pa[x]) - qRed(pb[x]), dg = qGreen(pa[x]) - qGreen(pb[x]),
                      db = qBlue(pa[x]) - qBlue(pb[x]);
            sum += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = sum / (3.0 * a.width() * a.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}
