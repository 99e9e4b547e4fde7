#pragma once
// The services the program runs with: the Linux implementations and the encoder.

#include "jpeg_encoder/decoder.h"
#include "jpeg_encoder/writer.h"
#include "platform/linux_services.h"

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
