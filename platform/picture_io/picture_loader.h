#pragma once
// Pictures read from files and from bytes, under the same limits.

#include "core/services.h"
#include "platform/picture_io/picture_checks.h"

#include <QIODevice>

namespace platform
{

// Qt's image readers, the format taken from the content; pictures larger than
// a 100-megapixel photo are refused from their header, before any decoding.
class QtPictureLoader : public PictureLoader
{
public:
    QtPictureLoader();
    QImage load(const QString &path) override;
    bool isPicture(const QString &path) override;
    qint64 pixelsOf(const QString &path) override;
    // A picture from any random-access device, from its start (a file, the clipboard's bytes),
    // under the same limits; null when it holds none or breaks a limit. The format is taken from
    // the content when none is named.
    static QImage decode(QIODevice &device, const QByteArray &format = {});

    static constexpr qint64 MaxPixels = 120'000'000;
    static picture_checks::Limits limits();

private:
    // decode, on a thread of its own when called from the windows' thread.
    static QImage decodePainting(QIODevice &device);
};

} // namespace platform
