#pragma once
// The Open command: a JPEG, BMP or GIF file becomes the current picture.

class CommonDialog;
class PictureDocument;

namespace platform
{
class PictureLoader;
}

namespace picture_files
{
void openPicture(PictureDocument &doc, CommonDialog &dialog, platform::PictureLoader &loader);
}
