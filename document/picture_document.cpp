#include "document/picture_document.h"

#include "platform/colour_profiles.h"
#include "platform/runtime.h"
#include "widgets/definitions.h"
#include "widgets/flatten.h"

PictureDocument::PictureDocument() : background_(defs::color(defs::PictureBackground)) {}

void PictureDocument::setJpegQuality(int32_t quality)
{
    jpegQuality_ = quality;
    emit jpegQualityChanged(quality);
}

void PictureDocument::setPicture(const QImage &given)
{
    // Pictures are measured in their own pixels: a screen grab on a scaled
    // screen says it is twice as dense, which would halve it on screen.
    QImage picture = given;
    if (picture.devicePixelRatio() != 1.0)
        picture.setDevicePixelRatio(1.0);
    picture_ = flattenOnto(picture, background_);
    // Shown as other viewers show it: a picture in a wider gamut through its
    // profile; Save writes its own pixels with that profile.
    shown_ = platform::colour::toSrgb(picture);
    emit pictureChanged();
}

float PictureDocument::pictureWidth() const
{
    return rt::pixelsToTwips(picture_.width() + 2 * defs::PictureBorderPx);
}

float PictureDocument::pictureHeight() const
{
    return rt::pixelsToTwips(picture_.height() + 2 * defs::PictureBorderPx);
}
