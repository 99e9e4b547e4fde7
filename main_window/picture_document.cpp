#include "main_window/picture_document.h"

#include "main_window/definitions.h"
#include "platform/runtime.h"

#include <QPainter>

PictureDocument::PictureDocument() : background_(240, 240, 240) {}

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
    shown_ = picture;
    if (picture.hasAlphaChannel()) {
        picture_ = QImage(picture.size(), QImage::Format_RGB32);
        picture_.fill(background_);
        QPainter(&picture_).drawImage(0, 0, picture);
    } else if (picture.format() != QImage::Format_RGB32) {
        picture_ = picture.convertToFormat(QImage::Format_RGB32);
    } else {
        picture_ = picture; // shared, not copied
    }
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
