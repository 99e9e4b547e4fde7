#pragma once
// The browser capture and its two modes.

class FileDialog;
class PictureDocument;

namespace platform
{
class BrowserFactory;
class Clipboard;
class EventLoop;
class InputPrompt;
class MessageBox;
class ScreenGrabber;
class WindowActivator;
} // namespace platform

namespace capture
{
struct BrowserCaptureServices {
    platform::InputPrompt &prompt;
    platform::BrowserFactory &browsers;
    platform::EventLoop &loop;
    platform::ScreenGrabber &grabber;
    platform::Clipboard &clipboard;
    platform::WindowActivator &activator;
    platform::MessageBox &messages;
};

// Opens a local HTML file (offline) or a typed address (online) in a new
// browser window, waits, and takes that window in as the current picture.
void captureBrowserPage(PictureDocument &doc, FileDialog &dialog,
                        const BrowserCaptureServices &sys);
// The mode menu's two items.
void chooseOffline(PictureDocument &doc);
void chooseOnline(PictureDocument &doc);
} // namespace capture
