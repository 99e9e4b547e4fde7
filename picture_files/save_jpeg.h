#pragma once
// The Save command: the current picture is written as JPEG at the document's
// quality.

#include <QString>

#include <cstdint>

class FileDialog;
class PictureDocument;

namespace platform
{
enum class WriteResult : int16_t;
class JpegWriter;
class MessageBox;
class PictureLoader;
class Trash;
} // namespace platform

namespace picture_files
{
struct SaveServices {
    platform::PictureLoader &loader;
    platform::JpegWriter &writer;
    platform::Trash &trash;
    platform::MessageBox &messages;
};

// A file it replaces goes to the desktop trash first, unless this run wrote
// it; where there is no trash for it, the user is asked.
void saveJpeg(PictureDocument &doc, FileDialog &dialog, const SaveServices &sys);

// The name the Save dialog offers for the current one: the same with .jpg
// when it is not a JPEG name.
QString proposedJpegName(const QString &name);
// A chosen name without any extension gets .jpg; others stay as typed.
QString typedJpegName(const QString &name);
// What Save says of a write's result, and the converter of one that failed;
// empty for none.
QString writeMessage(platform::WriteResult result);
// A file the user may care about: it exists, is a regular file, and is no
// picture (so not something this tool wrote or reads).
bool wouldDestroyNonPicture(const QString &path, platform::PictureLoader &loader);
} // namespace picture_files
