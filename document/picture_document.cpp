#include "document/picture_document.h"

#include "core/runtime.h"
#include "platform/picture_io/colour_profiles.h"
#include "widgets/definitions.h"
#include "widgets/flatten.h"

#include <algorithm>

PictureDocument::PictureDocument() : background_(defs::color(defs::PictureBackground)) {}

void PictureDocument::setJpegQuality(int32_t quality)
{
    jpegQuality_ = quality;
    emit jpegQualityChanged(quality);
}

void PictureDocument::setPicture(const QImage &given, qint64 sourceBytes)
{
    sourceBytes_ = sourceBytes;
    // The JPEG of another picture says nothing of this one.
    jpegPicture_ = QImage();
    jpegFile_.clear();
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

void PictureDocument::setJpegFile(const QByteArray &file, int32_t quality)
{
    jpegFile_ = file;
    jpegFileQuality_ = quality;
    setJpegSize(file.isEmpty() ? NoJpegSize : file.size());
}

void PictureDocument::setJpegPicture(const QImage &picture, int32_t quality)
{
    jpegPicture_ = picture;
    jpegPictureQuality_ = quality;
    emit jpegPictureChanged();
}

void PictureDocument::releaseJpegPicture()
{
    if (jpegPicture_.isNull())
        return;
    emit jpegPictureLeaving();
    jpegPicture_ = QImage();
    emit jpegPictureChanged();
}

void PictureDocument::wantJpegPicture(bool wanted)
{
    jpegPictureViews_ = std::max(0, jpegPictureViews_ + (wanted ? 1 : -1));
    if (!jpegPictureWanted())
        releaseJpegPicture();
    emit jpegPictureWantedChanged(jpegPictureWanted());
}
