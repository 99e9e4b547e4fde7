#include "picture_files/picture_choices.h"

#include "core/runtime.h"
#include "platform/picture_io/colour_profiles.h"

namespace picture_files
{

QImage asChosen(QImage picture, const PictureChoices &choices)
{
    if (choices.colour == ColourChoice::Srgb)
        picture = platform::colour::toSrgb(picture);
    platform::metadata::keepOnly(picture, choices.metadata);
    return picture;
}

QString unreadableReason(const rt::RuntimeError &error)
{
    switch (error.number()) {
    case rt::ErrFileNotFound:
        return QStringLiteral("ファイルがありません");
    case rt::ErrInvalidFileFormat:
        return error.text().isEmpty()
                   ? QStringLiteral("画像ファイルではありません")
                   : QStringLiteral("この形式（%1）の画像は開けません").arg(error.text());
    default:
        return QStringLiteral("読める画像ではありません（壊れているか大きすぎます）");
    }
}

} // namespace picture_files
