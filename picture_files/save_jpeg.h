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
} // namespace platform

namespace picture_files
{
void saveJpeg(PictureDocument &doc, CommonDialog &dialog, platform::PictureLoader &loader,
              platform::JpegWriter &writer, platform::MessageBox &messages);
}
