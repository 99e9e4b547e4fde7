#pragma once
// The Open command: a picture file becomes the current picture.

class FileDialog;
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
// A chosen file that cannot be opened is said so, with a message box.
void openPicture(PictureDocument &doc, FileDialog &dialog, platform::PictureLoader &loader,
                 platform::MessageBox *messages = nullptr);
// The 1-based entry of the dialog filter whose patterns match the file's name
// (case aside), else the first.
int16_t entryFor(const QString &filter, const QString &file);
// A file named from outside (the command line, another start, a drop) is
// opened as Open opens the one chosen in its dialog, which starts there next.
// With a message box, a file that cannot be opened is said so, and nothing
// changes: the name, the picture and the quality stay as they were. True
// when the file was opened.
bool openFile(PictureDocument &doc, FileDialog &dialog, platform::PictureLoader &loader,
              const QString &path, platform::MessageBox *messages = nullptr);
} // namespace picture_files
