#pragma once
// The picture-loader double: pictures by path.

#include "core/runtime.h"
#include "core/services.h"

#include <QMap>
#include <QStringList>

namespace platform
{

// Pictures by path, as a test puts them there; other paths fail to load.
class FakePictureLoader : public PictureLoader
{
public:
    QImage load(const QString &path) override;
    bool isPicture(const QString &path) override { return pictures.contains(path); }
    qint64 pixelsOf(const QString &path) override
    {
        const QImage picture = pictures.value(path);
        return qint64(picture.width()) * picture.height();
    }

    QMap<QString, QImage> pictures;
    QStringList loaded;
};

inline QImage FakePictureLoader::load(const QString &path)
{
    loaded.append(path);
    if (!pictures.contains(path))
        throw rt::RuntimeError(rt::ErrInvalidPicture);
    return pictures.value(path);
}

} // namespace platform
