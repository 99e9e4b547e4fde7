#pragma once
// The Save command: the current picture is written as JPEG at the document's
// quality.

class CommonDialog;
class PictureDocument;

namespace platform
{
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
void saveJpeg(PictureDocument &doc, CommonDialog &dialog, const SaveServices &sys);
} // namespace picture_files
