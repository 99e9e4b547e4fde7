#pragma once
// The Open command: a JPEG, BMP or GIF file becomes the current picture.

class CommonDialog;
class PictureDocument;

namespace platform
{
class MessageBox;
class PictureLoader;
} // namespace platform

#include <cstdint>

class QString;

namespace picture_files
{
void openPicture(PictureDocument &doc, CommonDialog &dialog, platform::PictureLoader &loader);
// The 1-based entry of the dialog filter whose patterns match the file's name
// (case aside), else the first.
int16_t entryFor(const QString &filter, const QString &file);
// A file named from outside (the command line, another start, a drop) is
// opened as Open opens the one chosen in its dialog, which starts there next.
// With a message box, a file that cannot be opened is said so: those ways in
// have no dialog in which the user would see it.
void openFile(PictureDocument &doc, CommonDialog &dialog, platform::PictureLoader &loader,
              const QString &path, platform::MessageBox *messages = nullptr);
} // namespace picture_files
