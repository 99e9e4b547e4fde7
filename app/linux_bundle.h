#pragma once
// The services the program runs with: the Linux implementations and the encoder.

#include "jpeg_encoder/decoder.h"
#include "jpeg_encoder/writer.h"
#include "platform/files/desktop_trash.h"
#include "platform/instance/lock_file_instance.h"
#include "platform/picture_io/picture_loader.h"
#include "platform/portal/screen_grabbers.h"
#include "platform/qt/browser_process.h"
#include "platform/qt/clipboard.h"
#include "platform/qt/event_loop.h"
#include "platform/qt/file_chooser.h"
#include "platform/qt/input_prompt.h"
#include "platform/qt/message_box.h"
#include "platform/qt/program_launcher.h"
#include "platform/x11/window_activator.h"
#include "platform/x11/window_shape.h"

#include <memory>

namespace app
{

// The real services, owned together.
struct LinuxServices {
    platform::QtMessageBox messageBox;
    platform::LockFileInstance singleInstance;
    platform::X11WindowShape windowShape;
    platform::QtFileChooser fileChooser;
    platform::QtPictureLoader pictureLoader;
    jpeg_encoder::LibjpegWriter jpegWriter;
    jpeg_encoder::LibjpegDecoder jpegDecoder;
    platform::FreedesktopTrash trash;
    platform::PathProgramLauncher programLauncher;
    std::unique_ptr<platform::ScreenGrabber> screenGrabber = platform::makeScreenGrabber();
    platform::QtClipboard clipboard;
    platform::QtEventLoop eventLoop;
    platform::ProcessBrowserFactory browserFactory;
    platform::QtInputPrompt inputPrompt;
    platform::X11WindowActivator windowActivator;
    platform::Services services() { return platform::servicesOf(*this); }
};

} // namespace app
