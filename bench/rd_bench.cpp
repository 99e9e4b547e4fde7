// Rate and distortion against the tools a user could pick instead: for each
// picture each peer's quality is swept over its range, and its bytes are
// interpolated at the PSNR (and at the SSIM) of our file (log-bytes linear
// in dB, resp. in SSIM). The headline: our bytes / the best peer's bytes at
// equal fidelity, per picture and as a geometric mean per kind of picture.
//   rd_bench WORKDIR PHOTO... -- SCREENSHOT...
#include "fidelity.h"
#include "platform/libjpeg_encoder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

namespace
{
struct Point {
    double bytes, psnr, ssim;
};

QImage rgb(const QImage &i)
{
    return i.convertToFormat(QImage::Format_RGB32);
}

// SSIM of the luma over 8x8 windows (stride 4), the usual constants.
double ssim(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 0;
    const auto luma = [](const QImage &img) {
        std::vector<float> l(size_t(img.width()) * size_t(img.height()));
        for (int y = 0; y < img.height(); ++y) {
            const auto *p = reinterpret_cast<const QRgb *>(img.constScanLine(y));
            for (int x = 0; x < img.width(); ++x)
                l[size_t(y) * size_t(img.width()) + size_t(x)] =
                    0.299f * qRed(p[x]) + 0.587f * qGreen(p[x]) + 0.114f * qBlue(p[x]);
        }
        return l;
    };
    const std::vector<float> la = luma(a), lb = luma(b);
    const int w = a.width(), h = a.height();
    const double c1 = 6.5025, c2 = 58.5225;
    double total = 0;
    long windows = 0;
    for (int y = 0; y + 8 <= h; y += 4)
        for (int x = 0; x + 8 <= w; x += 4) {
            double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
            for (int j = 0; j < 8; ++j)
                for (int i = 0; i < 8; ++i) {
                    const size_t k = size_t(y + j) * size_t(w) + size_t(x + i);
                    sa += la[k];
                    sb += lb[k];
                    saa += double(la[k]) * la[k];
                    sbb += double(lb[k]) * lb[k];
                    sab += double(la[k]) * lb[k];
                }
            const double ma = sa / 64, mb = sb / 64, va = saa / 64 - ma * ma,
                         vb = sbb / 64 - mb * mb, cov = sab / 64 - ma * mb;
            total +=
                ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            ++windows;
        }
    return windows ? total / double(windows) : 1;
}

bool run(const QString &program, const QStringList &args, const QString &stdoutFile = {})
{
    QProcess p;
    if (!stdoutFile.isEmpty())
        p.setStandardOutputFile(stdoutFile);
    p.start(program, args);
    return p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

Point measure(const QImage &source, const QString &file)
{
    const QImage decoded = rgb(QImage(file, "JPEG"));
    return {double(QFileInfo(file).size()), psnr(source, decoded), ssim(source, decoded)};
}

// A peer's bytes at the given fidelity, from its sweep; nan outside its range.
double bytesAt(std::vector<Point> sweep, double Point::*metric, double target)
{
    std::sort(sweep.begin(), sweep.end(),
              [&](const Point &a, const Point &b) { return a.*metric < b.*metric; });
    for (size_t i = 1; i < sweep.size(); ++i) {
        const Point &lo = sweep[i - 1], &hi = sweep[i];
        if (target >= lo.*metric && target <= hi.*metric && hi.*metric > lo.*metric) {
            const double t = (target - lo.*metric) / (hi.*metric - lo.*metric);
            return std::exp(std::log(lo.bytes) + t * (std::log(hi.bytes) - std::log(lo.bytes)));
        }
    }
    return std::nan("");
}

struct Peer {
    const char *name;
    // Writes the picture at quality q into the file.
    std::function<bool(int q, const QString &file)> encode;
};
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: rd_bench WORKDIR PHOTO... -- SCREENSHOT...\n");
        return 2;
    }
    const QDir work(args[0]);
    QStringList photos, screenshots;
    bool shots = false;
    for (const QString &a : args.mid(1)) {
        if (a == QStringLiteral("--"))
            shots = true;
        else
            (shots ? screenshots : photos) << a;
    }
    const int qualities[] = {30, 50, 75, 90};
    platform::LibjpegWriter writer;
    // Per kind: the ratios at equal PSNR and at equal SSIM.
    std::map<QString, std::vector<double>> byPsnr, bySsim;
    bool everyPictureMet = true;
    double oursMs24 = 0, cjpegMs24 = 0;

    for (const QString &path : photos + screenshots) {
        const QString kind =
            photos.contains(path) ? QStringLiteral("photo") : QStringLiteral("screen");
        const QImage source = rgb(QImage(path));
        const QString ppm = work.filePath("source.ppm");
        source.convertToFormat(QImage::Format_RGB888).save(ppm, "PPM");
        const QString out = work.filePath("out.jpg"), tmp = work.filePath("tmp.jpg");
        const double mp = source.width() * double(source.height()) / 1e6;
        const std::vector<Peer> peers{
            {"cjpeg -optimize",
             [&](int q, const QString &f) {
                 return run("cjpeg",
                            {"-quality", QString::number(q), "-optimize", "-outfile", f, ppm});
             }},
            {"cjpeg -progressive",
             [&](int q, const QString &f) {
                 return run("cjpeg",
                            {"-quality", QString::number(q), "-progressive", "-outfile", f, ppm});
             }},
            {"ImageMagick convert",
             [&](int q, const QString &f) {
                 return run("convert", {ppm, "-quality", QString::number(q), f});
             }},
            {"Qt writer (optimised)",
             [&](int q, const QString &f) {
                 QImageWriter w(f, "jpeg");
                 w.setQuality(q);
                 w.setOptimizedWrite(true);
                 return w.write(source);
             }},
            {"cjpeg | jpegtran -opt -prog",
             [&](int q, const QString &f) {
                 return run("cjpeg", {"-quality", QString::number(q), "-outfile", tmp, ppm}) &&
                        run("jpegtran", {"-optimize", "-progressive", "-outfile", f, tmp});
             }},
        };
        // The peers' curves: the whole range, denser where files are kept.
        std::vector<int> sweep;
        for (int q = 5; q <= 95; q += mp > 10 ? 10 : 5)
            sweep.push_back(q);
        sweep.push_back(98);
        sweep.push_back(100);
        std::vector<std::vector<Point>> curves;
        // Kept beside the pictures: a later run over the same work folder reuses them.
        QFile cache(work.filePath(QFileInfo(path).fileName() + QStringLiteral(".curves")));
        if (cache.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QTextStream in(&cache);
            for (size_t i = 0; i < peers.size(); ++i) {
                std::vector<Point> curve(size_t(in.readLine().toInt()));
                for (Point &p : curve)
                    in >> p.bytes >> p.psnr >> p.ssim;
                in.readLine();
                curves.push_back(curve);
            }
        } else {
            for (const Peer &peer : peers) {
                std::vector<Point> curve;
                for (int q : sweep)
                    if (peer.encode(q, out))
                        curve.push_back(measure(source, out));
                curves.push_back(curve);
            }
            if (cache.open(QIODevice::WriteOnly | QIODevice::Text)) {
                QTextStream to(&cache);
                to.setRealNumberPrecision(10);
                for (const auto &curve : curves) {
                    to << curve.size() << '\n';
                    for (const Point &p : curve)
                        to << p.bytes << ' ' << p.psnr << ' ' << p.ssim << ' ';
                    to << '\n';
                }
            }
        }
        std::printf("\n%s (%s, %.1f MP)\n", qPrintable(QFileInfo(path).fileName()),
                    qPrintable(kind), mp);
        std::printf("  q   ours bytes   PSNR    SSIM   best peer at equal PSNR     ratio   at "
                    "equal SSIM  ratio\n");
        for (int q : qualities) {
            QElapsedTimer t;
            t.start();
            if (writer.write(source, out, q) != 0)
                return 1;
            const double ms = t.nsecsElapsed() / 1e6;
            const Point ours = measure(source, out);
            double bestP = 1e99, bestS = 1e99;
            const char *nameP = "-", *nameS = "-";
            for (size_t i = 0; i < peers.size(); ++i) {
                const double p = bytesAt(curves[i], &Point::psnr, ours.psnr),
                             s = bytesAt(curves[i], &Point::ssim, ours.ssim);
                if (p < bestP) {
                    bestP = p;
                    nameP = peers[i].name;
                }
                if (s < bestS) {
                    bestS = s;
                    nameS = peers[i].name;
                }
            }
            const double rp = ours.bytes / bestP, rs = ours.bytes / bestS;
            byPsnr[kind].push_back(rp);
            bySsim[kind].push_back(rs);
            everyPictureMet = everyPictureMet && rp <= 1.0 && rs <= 1.0;
            std::printf("  %2d %11.0f %6.2f %7.4f   %-27s %6.3f   %-22s %6.3f\n", q, ours.bytes,
                        ours.psnr, ours.ssim, nameP, rp, nameS, rs);
            if (mp > 10 && q == 75) {
                oursMs24 = ms;
                QElapsedTimer c;
                c.start();
                run("cjpeg", {"-quality", "75", "-optimize", "-outfile", tmp, ppm});
                cjpegMs24 = c.nsecsElapsed() / 1e6;
            }
        }
    }

    std::printf("\ntargets\n");
    for (const auto &[name, table] : {std::pair{"PSNR", &byPsnr}, std::pair{"SSIM", &bySsim}})
        for (const auto &[kind, ratios] : *table) {
            double logSum = 0;
            for (double r : ratios)
                logSum += std::log(r);
            const double geomean = std::exp(logSum / double(ratios.size()));
            std::printf("  %-6s %-5s geometric mean %.3f x the best peer (target <= 0.97): %s\n",
                        qPrintable(kind), name, geomean, geomean <= 0.97 ? "met" : "NOT met");
        }
    std::printf("  every picture and quality <= 1.00 x the best peer: %s\n",
                everyPictureMet ? "met" : "NOT met");
    if (cjpegMs24 > 0)
        std::printf("  24 MP at q75: ours %.0f ms, cjpeg -optimize %.0f ms (with its start and "
                    "reading): %.2f x (target <= 3): %s\n",
                    oursMs24, cjpegMs24, oursMs24 / cjpegMs24,
                    oursMs24 / cjpegMs24 <= 3 ? "met" : "NOT met");
    return 0;
}
