// Saves a grainy 2000 x 2000 picture as Save does, with the address space
// limited to what this process has plus EXTRA bytes; exits with the writer's
// result. A fresh process for each try, so that nothing an earlier test left
// reserved makes room for it.
//   save_under_limit EXTRA FILE
#include "jpeg_encoder/writer.h"

#include <QImage>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc != 3)
        return 100;
    QImage picture(2000, 2000, QImage::Format_RGB32);
    uint32_t seed = 99;
    for (int y = 0; y < picture.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 28);
            row[x] = qRgb((x / 8 + grain) & 255, (y / 8 + grain) & 255, ((x ^ y) + grain) & 255);
        }
    }
    const QString path = QString::fromLocal8Bit(argv[2]);
    size_t pages = 0;
    FILE *statm = std::fopen("/proc/self/statm", "r");
    if (!statm || std::fscanf(statm, "%zu", &pages) != 1)
        return 101;
    std::fclose(statm);
    const rlim_t limit =
        pages * size_t(::sysconf(_SC_PAGESIZE)) + std::strtoull(argv[1], nullptr, 10);
    const rlimit lim{limit, limit};
    if (setrlimit(RLIMIT_AS, &lim) != 0)
        return 102;
    jpeg_encoder::LibjpegWriter writer;
    return int(writer.write(picture, path, 50));
}
