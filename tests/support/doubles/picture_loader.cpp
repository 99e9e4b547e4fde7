#include "doubles/picture_loader.h"

#include "core/runtime.h"

namespace platform
{

QImage FakePictureLoader::load(const QString &path)
{
    loaded.append(path);
    if (!pictures.contains(path))
        throw rt::RuntimeError(rt::ErrInvalidPicture);
    return pictures.value(path);
}

} // namespace platform
