// Rate and distortion against the tools a user could pick instead, mozjpeg
// among them: for each picture each peer's quality is swept over its range,
// at 4:2:0 and at 4:4:4, and its bytes are interpolated at the fidelity of our
// file (log-bytes linear in the metric); of its two samplings the smaller
// counts. Fidelity is RGB PSNR, luma SSIM over 8x8 boxes and luma SSIM with
// the usual Gaussian window. The headline: our bytes / the best peer's bytes
// at equal fidelity, per picture and as a geometric mean per kind of picture.
// The first two photos are also timed as whole processes, with RD_MIPOQUIBBO.
//   RD_MOZJPEG=CJPEG [RD_MIPOQUIBBO=EXE] rd_bench WORKDIR PHOTO... -- SCREENSHOT...
#include "fidelity.h"
#include "jpeg_encoder/writer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace
{
struct Point {
    double bytes = 0, psnr = 0, ssim = 0, gssim = 0;
    // Lower is closer; nan where not measured.
    double ssimulacra = std::nan(""), butteraugli = std::nan("");
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

// SSIM of the luma as usually defined: an 11x11 Gaussian window of sigma 1.5
// at every pixel (separable), the same constants.
double gaussianSsim(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 0;
    const int w = a.width(), h = a.height();
    if (w < 11 || h < 11)
        return ssim(a, b);
    float taps[11];
    float sum = 0;
    for (int i = 0; i < 11; ++i)
        sum += taps[i] = float(std::exp(-(i - 5) * (i - 5) / (2 * 1.5 * 1.5)));
    for (float &t : taps)
        t /= sum;
    const size_t n = size_t(w) * size_t(h);
    // The five moments, filtered along the rows, then down the columns.
    std::vector<float> m[5];
    for (auto &v : m)
        v.assign(n, 0);
    std::vector<float> row[5];
    for (auto &v : row)
        v.resize(size_t(w));
    for (int y = 0; y < h; ++y) {
        const auto *pa = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *pb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const float la = 0.299f * qRed(pa[x]) + 0.587f * qGreen(pa[x]) + 0.114f * qBlue(pa[x]);
            const float lb = 0.299f * qRed(pb[x]) + 0.587f * qGreen(pb[x]) + 0.114f * qBlue(pb[x]);
            row[0][size_t(x)] = la;
            row[1][size_t(x)] = lb;
            row[2][size_t(x)] = la * la;
            row[3][size_t(x)] = lb * lb;
            row[4][size_t(x)] = la * lb;
        }
        for (int k = 0; k < 5; ++k)
            for (int x = 5; x < w - 5; ++x) {
                float acc = 0;
                for (int i = 0; i < 11; ++i)
                    acc += taps[i] * row[k][size_t(x + i - 5)];
                m[k][size_t(y) * size_t(w) + size_t(x)] = acc;
            }
    }
    const double c1 = 6.5025, c2 = 58.5225;
    double total = 0;
    long count = 0;
    std::vector<float> col[5];
    for (auto &v : col)
        v.resize(size_t(w));
    for (int y = 5; y < h - 5; ++y) {
        for (int k = 0; k < 5; ++k) {
            std::fill(col[k].begin(), col[k].end(), 0.f);
            for (int i = 0; i < 11; ++i) {
                const float *src = &m[k][size_t(y + i - 5) * size_t(w)];
                for (int x = 5; x < w - 5; ++x)
                    col[k][size_t(x)] += taps[i] * src[x];
            }
        }
        for (int x = 5; x < w - 5; ++x) {
            const double ma = col[0][size_t(x)], mb = col[1][size_t(x)];
            const double va = col[2][size_t(x)] - ma * ma, vb = col[3][size_t(x)] - mb * mb,
                         cov = col[4][size_t(x)] - ma * mb;
            total +=
                ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            ++count;
        }
    }
    return total / double(count);
}

bool run(const QString &program, const QStringList &args, const QString &stdoutFile = {})
{
    QProcess p;
    if (!stdoutFile.isEmpty())
        p.setStandardOutputFile(stdoutFile);
    p.start(program, args);
    return p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A tool's standard output, empty when it failed.
QByteArray output(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return p.readAllStandardOutput();
}

// SSIMULACRA and butteraugli's 3-norm, both read from PPM: given PNG,
// butteraugli applies its gamma chunk and scores even identical pixels badly.
void perceive(const QString &sourcePpm, const QImage &decoded, const QString &decodedPpm, Point &p)
{
    decoded.convertToFormat(QImage::Format_RGB888).save(decodedPpm, "PPM");
    bool ok = false;
    const double s = output("ssimulacra_main", {sourcePpm, decodedPpm}).trimmed().toDouble(&ok);
    if (ok)
        p.ssimulacra = s;
    const QByteArray b = output("butteraugli_main", {sourcePpm, decodedPpm, "--pnorm", "3"});
    const qsizetype at = b.indexOf("3-norm:");
    if (at >= 0) {
        const double v = b.mid(at + 7).trimmed().toDouble(&ok);
        if (ok)
            p.butteraugli = v;
    }
    QFile::remove(decodedPpm);
}

Point measure(const QImage &source, const QString &file, const QString &sourcePpm = {})
{
    const QImage decoded = rgb(QImage(file, "JPEG"));
    Point p;
    p.bytes = double(QFileInfo(file).size());
    p.psnr = psnr(source, decoded);
    p.ssim = ssim(source, decoded);
    p.gssim = gaussianSsim(source, decoded);
    if (!sourcePpm.isEmpty())
        perceive(sourcePpm, decoded, file + QStringLiteral(".ppm"), p);
    return p;
}

// A peer's bytes at the given fidelity, from its sweep; nan outside its range.
double bytesAt(std::vector<Point> sweep, double Point::*metric, double target)
{
    if (std::isnan(target))
        return std::nan("");
    sweep.erase(std::remove_if(sweep.begin(), sweep.end(),
                               [&](const Point &p) { return std::isnan(p.*metric); }),
                sweep.end());
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
    // Writes the picture at quality q into the file, colour at full resolution
    // when whole; false when it cannot. tmp: a file of its own for a step between.
    std::function<bool(int q, const QString &file, const QString &tmp, bool whole)> encode;
    // Also scored by SSIMULACRA and butteraugli (slow: the peers that matter).
    bool perceptual = false;
};

QStringList sample(bool whole)
{
    return whole ? QStringList{"-sample", "1x1"} : QStringList{};
}

struct Metric {
    const char *name;
    double Point::*field;
};
const Metric metrics[] = {{"PSNR", &Point::psnr},
                          {"SSIM 8x8", &Point::ssim},
                          {"SSIM Gaussian", &Point::gssim},
                          {"SSIMULACRA", &Point::ssimulacra},
                          {"butteraugli", &Point::butteraugli}};
constexpr size_t MetricCount = std::size(metrics);
constexpr size_t FirstPerceptual = 3;

// Runs each task on one of two threads (each task runs external tools, which
// then have a core each).
void onTwoThreads(const std::vector<std::function<void()>> &tasks)
{
    std::atomic_size_t next{0};
    const auto work = [&] {
        for (size_t i = next++; i < tasks.size(); i = next++)
            tasks[i]();
    };
    std::thread other(work);
    work();
    other.join();
}

const char *const CurrentMozjpeg = "mozjpeg current (sharp)";

struct Row {
    QString picture;
    int quality;
    double ratio;
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
    jpeg_encoder::LibjpegWriter writer;
    // Ours / the peer's bytes, per peer (and the best peer per row), per kind, per metric.
    std::map<std::string, std::map<QString, std::array<std::vector<double>, MetricCount>>> ratios;
    // Against current mozjpeg: every row, per kind and metric, for the worst of them.
    std::map<QString, std::array<std::vector<Row>, MetricCount>> mozjpegRows;
    // Our own scores, per kind and metric, for their means.
    std::map<QString, std::array<std::vector<double>, MetricCount>> ourScores;
    const QString mozjpeg = QString::fromLocal8Bit(qgetenv("RD_MOZJPEG"));
    const QString sharp = QString::fromLocal8Bit(qgetenv("RD_SHARP"));
    if (mozjpeg.isEmpty() || sharp.isEmpty()) {
        std::fprintf(stderr, "RD_MOZJPEG names no mozjpeg cjpeg or RD_SHARP no sharp_jpeg.js\n");
        return 2;
    }
    // Whole processes at q75, best of 3: ours from the command line, cjpeg
    // -optimize and sharp's mozjpeg.
    struct Timing {
        QString picture;
        double ours, cjpeg, sharp;
    };
    std::vector<Timing> timings;
    const QString program = QString::fromLocal8Bit(qgetenv("RD_MIPOQUIBBO"));
    const auto bestOf3 = [](const QString &command, const QStringList &arguments) {
        double best = 1e99;
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer c;
            c.start();
            if (!run(command, arguments))
                return std::nan("");
            best = std::min(best, double(c.nsecsElapsed()) / 1e6);
        }
        return best;
    };

    for (const QString &path : photos + screenshots) {
        const QString kind =
            photos.contains(path) ? QStringLiteral("photo") : QStringLiteral("screen");
        const QImage source = rgb(QImage(path));
        const QString ppm = work.filePath("source.ppm");
        source.convertToFormat(QImage::Format_RGB888).save(ppm, "PPM");
        const double mp = source.width() * double(source.height()) / 1e6;
        // Butteraugli takes a minute and gigabytes on the largest pictures.
        const bool perceptual = mp < 10;
        // Each peer at its usual 4:2:0 and, where it can, at 4:4:4: the better
        // of the two counts.
        const std::vector<Peer> peers{
            {"cjpeg -optimize",
             [&](int q, const QString &f, const QString &, bool whole) {
                 return run("cjpeg", QStringList{"-quality", QString::number(q), "-optimize"} +
                                         sample(whole) + QStringList{"-outfile", f, ppm});
             },
             true},
            {"cjpeg -progressive",
             [&](int q, const QString &f, const QString &, bool whole) {
                 return run("cjpeg", QStringList{"-quality", QString::number(q), "-progressive"} +
                                         sample(whole) + QStringList{"-outfile", f, ppm});
             }},
            {"ImageMagick convert",
             [&](int q, const QString &f, const QString &, bool whole) {
                 return run("convert",
                            QStringList{ppm, "-quality", QString::number(q)} +
                                (whole ? QStringList{"-sampling-factor", "1x1"} : QStringList{}) +
                                QStringList{f});
             },
             true},
            {"Qt writer (optimised)",
             [&](int q, const QString &f, const QString &, bool whole) {
                 if (whole)
                     return false; // it has no choice of sampling
                 QImageWriter w(f, "jpeg");
                 w.setQuality(q);
                 w.setOptimizedWrite(true);
                 return w.write(source);
             }},
            {"cjpeg | jpegtran -opt -prog",
             [&](int q, const QString &f, const QString &tmp, bool whole) {
                 return run("cjpeg", QStringList{"-quality", QString::number(q)} + sample(whole) +
                                         QStringList{"-outfile", tmp, ppm}) &&
                        run("jpegtran", {"-optimize", "-progressive", "-outfile", f, tmp});
             }},
            {"mozjpeg 3.2 cjpeg",
             [&](int q, const QString &f, const QString &, bool whole) {
                 return run(mozjpeg, QStringList{"-quality", QString::number(q)} + sample(whole) +
                                         QStringList{"-outfile", f, ppm});
             },
             true},
            {CurrentMozjpeg,
             [&](int q, const QString &f, const QString &, bool whole) {
                 return run("node", {sharp, ppm, f, QString::number(q), whole ? "444" : "420"});
             },
             true},
        };
        // The peers' curves: the whole range, denser where files are kept;
        // the slow scores on fewer points, enough to interpolate between.
        std::vector<int> sweep;
        for (int q = 5; q <= 95; q += mp > 10 ? 10 : 5)
            sweep.push_back(q);
        sweep.push_back(98);
        sweep.push_back(100);
        const auto scoredFully = [](int q) {
            return q >= 10 && q <= 98 && (q % 10 == 0 || q >= 85);
        };
        // Two curves per peer: 4:2:0, then 4:4:4 (empty when it cannot).
        std::vector<std::vector<Point>> curves;
        // Kept beside the pictures: a later run over the same work folder reuses them.
        QFile cache(work.filePath(QFileInfo(path).fileName() + QStringLiteral(".curves-v3")));
        if (cache.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QTextStream in(&cache);
            for (size_t i = 0; i < 2 * peers.size(); ++i) {
                std::vector<Point> curve(size_t(in.readLine().toInt()));
                for (Point &p : curve) {
                    QString s, b;
                    in >> p.bytes >> p.psnr >> p.ssim >> p.gssim >> s >> b;
                    p.ssimulacra = s == QStringLiteral("-") ? std::nan("") : s.toDouble();
                    p.butteraugli = b == QStringLiteral("-") ? std::nan("") : b.toDouble();
                }
                in.readLine();
                curves.push_back(curve);
            }
        } else {
            std::vector<std::vector<std::optional<Point>>> points(
                2 * peers.size(), std::vector<std::optional<Point>>(sweep.size()));
            std::vector<std::function<void()>> tasks;
            for (size_t i = 0; i < peers.size(); ++i)
                for (size_t whole = 0; whole < 2; ++whole)
                    for (size_t s = 0; s < sweep.size(); ++s)
                        tasks.emplace_back([&, i, whole, s] {
                            const QString name = work.filePath(
                                QStringLiteral("peer-%1-%2-%3").arg(i).arg(whole).arg(sweep[s]));
                            const QString f = name + QStringLiteral(".jpg");
                            if (peers[i].encode(sweep[s], f, name + QStringLiteral(".tmp"),
                                                whole != 0))
                                points[2 * i + whole][s] = measure(
                                    source, f,
                                    perceptual && peers[i].perceptual && scoredFully(sweep[s])
                                        ? ppm
                                        : QString());
                            QFile::remove(f);
                            QFile::remove(name + QStringLiteral(".tmp"));
                        });
            onTwoThreads(tasks);
            for (const auto &curve : points) {
                curves.emplace_back();
                for (const auto &p : curve)
                    if (p)
                        curves.back().push_back(*p);
            }
            if (cache.open(QIODevice::WriteOnly | QIODevice::Text)) {
                QTextStream to(&cache);
                to.setRealNumberPrecision(10);
                const auto field = [](double v) {
                    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'g', 10);
                };
                for (const auto &curve : curves) {
                    to << curve.size() << '\n';
                    for (const Point &p : curve)
                        to << p.bytes << ' ' << p.psnr << ' ' << p.ssim << ' ' << p.gssim << ' '
                           << field(p.ssimulacra) << ' ' << field(p.butteraugli) << ' ';
                    to << '\n';
                }
            }
        }
        // A peer's bytes at a fidelity: the smaller of its two samplings.
        const auto peerBytes = [&](size_t peer, double Point::*metric, double target) {
            double best = std::nan("");
            for (size_t c = 2 * peer; c < 2 * peer + 2; ++c) {
                const double b = bytesAt(curves[c], metric, target);
                if (!std::isnan(b) && !(b >= best))
                    best = b;
            }
            return best;
        };
        // Ours at the four qualities, scored two at a time.
        std::array<Point, std::size(qualities)> ours;
        std::vector<std::function<void()>> tasks;
        for (size_t i = 0; i < std::size(qualities); ++i)
            tasks.emplace_back([&, i] {
                const QString f = work.filePath(QStringLiteral("ours-%1.jpg").arg(qualities[i]));
                if (writer.write(source, f, qualities[i]) == platform::WriteResult::Written)
                    ours[i] = measure(source, f, perceptual ? ppm : QString());
            });
        onTwoThreads(tasks);
        const QString name = QFileInfo(path).fileName();
        std::printf("\n%s (%s, %.1f MP)\n", qPrintable(name), qPrintable(kind), mp);
        std::printf(
            "  q   ours bytes   PSNR  SSIM-8x8 SSIM-G  SSIMUL. butter. | ours / best peer at "
            "equal: PSNR, SSIM 8x8, SSIM Gaussian; ours / current mozjpeg at equal: "
            "SSIMULACRA, butteraugli\n");
        for (size_t qi = 0; qi < std::size(qualities); ++qi) {
            const int q = qualities[qi];
            const Point &p = ours[qi];
            if (p.bytes == 0)
                return 1;
            std::printf("  %2d %11.0f %6.2f %7.4f %7.4f %8.5f %7.3f |", q, p.bytes, p.psnr, p.ssim,
                        p.gssim, p.ssimulacra, p.butteraugli);
            for (size_t m = 0; m < MetricCount; ++m) {
                ourScores[kind][m].push_back(p.*metrics[m].field);
                double best = 1e99;
                const char *bestName = "-";
                for (size_t i = 0; i < peers.size(); ++i) {
                    const double b = peerBytes(i, metrics[m].field, p.*metrics[m].field);
                    if (std::isnan(b))
                        continue;
                    ratios[peers[i].name][kind][m].push_back(p.bytes / b);
                    if (peers[i].name == std::string(CurrentMozjpeg))
                        mozjpegRows[kind][m].push_back({name, q, p.bytes / b});
                    if (b < best) {
                        best = b;
                        bestName = peers[i].name;
                    }
                }
                if (best < 1e99)
                    ratios["best peer per row"][kind][m].push_back(p.bytes / best);
                if (m < FirstPerceptual)
                    std::printf(" %-19s %5.3f", bestName, p.bytes / best);
                else {
                    const double b =
                        peerBytes(peers.size() - 1, metrics[m].field, p.*metrics[m].field);
                    std::printf(" %5.3f", p.bytes / b);
                }
            }
            std::printf("\n");
            if (q == 75 && !program.isEmpty() && photos.mid(0, 2).contains(path)) {
                const QString tmp = work.filePath("timed.jpg");
                timings.push_back(
                    {QStringLiteral("%1 MP").arg(mp, 0, 'f', 1),
                     bestOf3(program, {"--quality", "75", "--output", tmp, ppm}),
                     bestOf3("cjpeg", {"-quality", "75", "-optimize", "-outfile", tmp, ppm}),
                     bestOf3("node", {sharp, ppm, tmp, "75", "420"})});
            }
        }
    }

    const auto geomean = [](const std::vector<double> &v) {
        double logSum = 0;
        for (double r : v)
            logSum += std::log(r);
        return v.empty() ? std::nan("") : std::exp(logSum / double(v.size()));
    };
    const auto mean = [](const std::vector<double> &v) {
        double sum = 0;
        size_t n = 0;
        for (double x : v)
            if (!std::isnan(x)) {
                sum += x;
                ++n;
            }
        return n ? sum / double(n) : std::nan("");
    };
    const QString kinds[] = {QStringLiteral("photo"), QStringLiteral("screen")};
    std::printf(
        "\nours / peer at equal fidelity, geometric mean over the pictures and qualities\n");
    for (const QString &kind : kinds) {
        std::printf("  %-28s", qPrintable(kind));
        for (const Metric &m : metrics)
            std::printf(" %13s", m.name);
        std::printf("\n");
        for (const auto &[peer, byKind] : ratios) {
            std::printf("  %-28s", peer.c_str());
            const auto k = byKind.find(kind);
            for (size_t m = 0; m < MetricCount; ++m)
                std::printf(" %13.3f", k == byKind.end() ? std::nan("") : geomean(k->second[m]));
            std::printf("\n");
        }
        std::printf("  %-28s", "(our mean score)");
        for (size_t m = 0; m < MetricCount; ++m)
            std::printf(" %13.4f", mean(ourScores[kind][m]));
        std::printf("\n");
    }
    std::printf("\nthe worst rows against current mozjpeg\n");
    double worst = 0;
    for (const QString &kind : kinds)
        for (size_t m = 0; m < MetricCount; ++m) {
            std::vector<Row> rows = mozjpegRows[kind][m];
            std::sort(rows.begin(), rows.end(),
                      [](const Row &a, const Row &b) { return a.ratio > b.ratio; });
            std::printf("  %-6s %-13s", qPrintable(kind), metrics[m].name);
            for (size_t i = 0; i < std::min<size_t>(3, rows.size()); ++i)
                std::printf("  %s q%d %.3f", qPrintable(rows[i].picture), rows[i].quality,
                            rows[i].ratio);
            std::printf("\n");
            if (m >= FirstPerceptual && !rows.empty())
                worst = std::max(worst, rows.front().ratio);
        }
    std::printf("\ntargets\n");
    for (const QString &kind : kinds)
        for (size_t m = FirstPerceptual; m < MetricCount; ++m) {
            const double g = geomean(ratios[CurrentMozjpeg][kind][m]);
            std::printf("  %-6s %-11s geometric mean %.3f x current mozjpeg (target <= 0.90): %s\n",
                        qPrintable(kind), metrics[m].name, g, g <= 0.90 ? "met" : "NOT met");
        }
    std::printf("  every picture and quality <= 1.05 x current mozjpeg at either score: %s "
                "(worst %.3f)\n",
                worst <= 1.05 ? "met" : "NOT met", worst);
    for (const Timing &t : timings)
        std::printf("  %s photo at q75, whole process from PPM: ours %.0f ms, cjpeg -optimize "
                    "%.0f ms: %.2f x (target <= 1.5): %s; sharp's mozjpeg %.0f ms: %.2f x "
                    "(target < 0.75): %s\n",
                    qPrintable(t.picture), t.ours, t.cjpeg, t.ours / t.cjpeg,
                    t.ours / t.cjpeg <= 1.5 ? "met" : "NOT met", t.sharp, t.ours / t.sharp,
                    t.ours / t.sharp < 0.75 ? "met" : "NOT met");
    return 0;
}
