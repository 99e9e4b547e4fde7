#pragma once
// The desktop copy and the clipboard import.

class PictureDocument;

namespace platform
{
class Clipboard;
class EventLoop;
class MessageBox;
class ScreenGrabber;
} // namespace platform

namespace capture
{
// Puts a picture of the whole screen on the clipboard, as Print Screen does;
// where the screen cannot be read, says so and leaves the clipboard alone.
// Where the desktop refuses, says how to allow it again and offers the
// desktop's own screenshot dialog instead.
void copyDesktop(platform::ScreenGrabber &grabber, platform::Clipboard &clipboard,
                 platform::EventLoop &loop, platform::MessageBox &messages);
// Shows the information window and makes the clipboard's picture the current one.
void importClipboard(PictureDocument &doc, platform::Clipboard &clipboard);
// The clipboard's picture becomes the current picture; without one the current one stays.
void adoptClipboardPicture(PictureDocument &doc, platform::Clipboard &clipboard);
} // namespace capture
