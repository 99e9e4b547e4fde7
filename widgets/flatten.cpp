#include "widgets/flatten.h"

#include <QColorSpace>
#include <QPainter>

QImage flattenOnto(const QImage &picture, const QColor &background)
{
    if (picture.hasAlphaChannel()) {
        QImage flat(picture.size(), QImage::Format_RGB32);
        flat.fill(background);
        QPainter(&flat).drawImage(0, 0, picture);
        // What the picture says of itself: its colour profile and metadata.
        flat.setColorSpace(picture.colorSpace());
        for (const QString &key : picture.textKeys())
            flat.setText(key, picture.text(key));
        return flat;
    }
    if (picture.format() != QImage::Format_RGB32)
        return picture.convertToFormat(QImage::Format_RGB32);
    return picture;
}
