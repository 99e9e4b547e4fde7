#pragma once
// What a loaded picture keeps on its way into the JPEG file (its colour
// profile, its metadata), and what is said of a file that cannot be loaded.

#include "platform/picture_io/picture_metadata.h"

#include <QImage>
#include <QString>

namespace rt
{
class RuntimeError;
}

namespace picture_files
{

enum class ColourChoice {
    Keep, // the pixels as they are, their profile written with them
    Srgb, // converted to sRGB, no profile: for places that ignore profiles
};

struct PictureChoices {
    ColourChoice colour = ColourChoice::Keep;
    platform::metadata::Choice metadata = platform::metadata::Choice::Safe;
};

// The picture as it is to be written.
QImage asChosen(QImage picture, const PictureChoices &choices);

// Why the loader refused a file, in a few words for a message or a report:
// missing, a kind of file not read here (by its name where it is known), or
// a damaged or too large picture.
QString unreadableReason(const rt::RuntimeError &error);

} // namespace picture_files
