#include "platform/qt/clipboard.h"

#include "platform/picture_io/picture_loader.h"
#include "platform/x11/selection_reader.h"
#include "platform/x11/x11.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>

#include <chrono>
#include <optional>

namespace platform
{

using x11::SelectionReader;

namespace
{
bool withinLimits(const QImage &picture)
{
    return qint64(picture.width()) * picture.height() <= QtPictureLoader::MaxPixels;
}
} // namespace

void QtClipboard::setPicture(const QImage &picture)
{
    QGuiApplication::clipboard()->setImage(picture);
}

QImage QtClipboard::picture()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (clipboard->ownsClipboard() || !x11::connection()) {
        const QImage own = clipboard->image();
        return withinLimits(own) ? own : QImage();
    }
    SelectionReader reader(std::chrono::steady_clock::now() + importTime_);
    const std::optional<QByteArray> targets = reader.read(reader.intern("TARGETS"), 1 << 20);
    if (!targets)
        return {};
    const auto *offered = reinterpret_cast<const xcb_atom_t *>(targets->constData());
    const QList<xcb_atom_t> list(offered, offered + targets->size() / 4);
    for (const char *type : {"image/png", "image/bmp", "image/x-bmp", "image/x-MS-bmp",
                             "image/jpeg", "image/gif", "image/tiff", "image/x-portable-pixmap"}) {
        const xcb_atom_t target = reader.intern(type);
        if (!list.contains(target))
            continue;
        std::optional<QByteArray> bytes =
            reader.read(target, QtPictureLoader::limits().maxFileBytes);
        if (!bytes)
            return {}; // out of time, or refused
        QBuffer device(&*bytes);
        device.open(QIODevice::ReadOnly);
        QImage picture = QtPictureLoader::decode(device);
        if (!picture.isNull())
            return picture;
    }
    return {};
}

} // namespace platform
