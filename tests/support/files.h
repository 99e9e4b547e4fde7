#pragma once
// Files as the writer and loader tests handle them.

#include "jpeg_encoder/writer.h"

#include <QFile>
#include <QImage>
#include <QTest>

using platform::WriteResult;

inline QByteArray read(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

inline void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Saves as Save does, through the real writer.
inline platform::WriteResult save(const QImage &img, const QString &path, int quality = 50)
{
    jpeg_encoder::LibjpegWriter writer;
    return writer.write(img, path, quality);
}
