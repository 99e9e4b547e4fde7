// Picture benchmark: the encoder layer against cjpeg, opening against djpeg,
// and the program's memory with a large photo open and while saving it.
//
//   picture_bench PHOTO.jpg PHOTO.ppm [PHOTO.jpg PHOTO.ppm ...]
// Needs an X display (the memory part runs the real windows), cjpeg and djpeg.

#include "info_window/form2.h"
#include "main_window/controls.h"
#include "main_window/form1.h"
#include "main_window/program.h"
#include "platform/doubles.h"
#include "platform/libjpeg_encoder.h"
#include "platform/linux_services.h"
#include "platform/runtime.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace
{
double bestOf(int runs, const std::function<void()> &f)
{
    double best = 1e99;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

double command(const QString &program, const QStringList &args)
{
    return bestOf(5, [&] {
        if (QProcess::execute(program, args) != 0) {
            std::fprintf(stderr, "%s failed\n", qPrintable(program));
            std::exit(1);
        }
    });
}

qint64 fileSize(const QString &p)
{
    return QFileInfo(p).size();
}

QByteArray contents(const QString &p)
{
    QFile f(p);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

long statusKb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').first().toLong();
    return -1;
}

void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s PHOTO.jpg PHOTO.ppm [...]\n", argv[0]);
        return 2;
    }
    QTemporaryDir out(QStringLiteral("/dev/shm/mipo-bench-XXXXXX"));
    platform::QtPictureLoader loader;
    platform::LibjpegEncoder encoder;

    std::printf("%-11s %3s %12s %12s %6s %12s %12s %10s\n", "photo", "q", "ours ms", "cjpeg ms",
                "ratio", "ours bytes", "cjpeg bytes", "identical");
    QString largest;
    qint64 largestPixels = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString jpg = QString::fromLocal8Bit(argv[i]),
                      ppm = QString::fromLocal8Bit(argv[i + 1]);
        const QImage photo = loader.LoadPicture(jpg);
        const QString label =
            QStringLiteral("%1MP").arg(photo.width() * qint64(photo.height()) / 1e6, 0, 'f', 1);
        if (photo.width() * qint64(photo.height()) > largestPixels) {
            largestPixels = photo.width() * qint64(photo.height());
            largest = jpg;
        }
        for (int q : {50, 90}) {
            const QString ours = out.filePath("ours.jpg"), theirs = out.filePath("cjpeg.jpg"),
                          plain = out.filePath("plain.jpg");
            QByteArray name = QFile::encodeName(ours);
            const double oursMs = bestOf(5, [&] {
                if (encoder.DCSavetoJPEG(&photo, photo.width(), photo.height(), name.data(),
                                         uint8_t(q), 0) != 0)
                    std::exit(1);
            });
            QStringList args{"-quality", QString::number(q), "-optimize"};
            QStringList plainArgs{"-quality", QString::number(q)};
            if (q >= 90) {
                args << "-sample"
                     << "1x1";
                plainArgs << "-sample"
                          << "1x1";
            }
            const double cjpegMs = command("cjpeg", args + QStringList{"-outfile", theirs, ppm});
            QProcess::execute("cjpeg", plainArgs + QStringList{"-outfile", plain, ppm});
            std::printf("%-11s %3d %12.1f %12.1f %6.2f %12lld %12lld %10s\n", qPrintable(label), q,
                        oursMs, cjpegMs, oursMs / cjpegMs, fileSize(ours), fileSize(theirs),
                        contents(ours) == contents(theirs) ? "yes" : "NO");
            std::printf(
                "%-11s %3d   optimised tables save %.1f %% against cjpeg's default tables\n", "", q,
                100.0 * (1.0 - double(fileSize(ours)) / double(fileSize(plain))));
        }
        const double openMs = bestOf(5, [&] { (void)loader.LoadPicture(jpg); });
        const double djpegMs = command("djpeg", {"-outfile", out.filePath("x.ppm"), jpg});
        std::printf("%-11s open %.1f ms, djpeg %.1f ms, ratio %.2f (target <= 1.30)\n\n",
                    qPrintable(label), openMs, djpegMs, openMs / djpegMs);
    }

    // Memory of the running program: empty, with the largest photo open and
    // shown, and while saving it at quality 90.
    platform::LinuxServices real;
    platform::FakeFileChooser chooser;
    platform::FakeMessageBox quiet;
    platform::FakeSingleInstance alone;
    platform::Services services = real.services();
    services.fileChooser = &chooser;
    services.messageBox = &quiet;
    services.singleInstance = &alone;
    Program program(services);
    program.start();
    settle();
    const long emptyKb = statusKb("VmRSS:");
    const double pictureMb = largestPixels * 4 / 1048576.0;
    resetPeak();
    chooser.answers << largest;
    program.Form1().mnuopen_Click();
    settle();
    const long openPeakKb = statusKb("VmHWM:");
    resetPeak();
    chooser.answers << out.filePath("saved.jpg");
    program.Form2().HScroll1->setValue(90);
    program.Form1().mnusave_Click();
    const long savePeakKb = statusKb("VmHWM:");
    std::printf("memory: empty %.1f MB; picture %.1f MB (32-bit)\n", emptyKb / 1024.0, pictureMb);
    std::printf("  open and shown: peak %.1f MB = empty + %.2f x picture (target <= 1.3)\n",
                openPeakKb / 1024.0, (openPeakKb - emptyKb) / 1024.0 / pictureMb);
    std::printf("  saving at 90:   peak %.1f MB = empty + %.2f x picture (target <= 2.7)\n",
                savePeakKb / 1024.0, (savePeakKb - emptyKb) / 1024.0 / pictureMb);
    std::printf("  saved: %s\n",
                quiet.calls.isEmpty() ? "?" : qPrintable(quiet.calls.last().prompt));
    return 0;
}
