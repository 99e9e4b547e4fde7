#pragma once
// One double of each service, their calls in one log.

#include "core/services.h"
#include "doubles/browser.h"
#include "doubles/clipboard.h"
#include "doubles/event_loop.h"
#include "doubles/file_chooser.h"
#include "doubles/input_prompt.h"
#include "doubles/jpeg_decoder.h"
#include "doubles/jpeg_writer.h"
#include "doubles/message_box.h"
#include "doubles/picture_loader.h"
#include "doubles/program_launcher.h"
#include "doubles/screen_grabber.h"
#include "doubles/single_instance.h"
#include "doubles/trash.h"
#include "doubles/window_activator.h"
#include "doubles/window_shape.h"

#include <QStringList>

namespace platform
{

struct FakeServices {
    FakeMessageBox messageBox;
    FakeSingleInstance singleInstance;
    FakeWindowShape windowShape;
    FakeFileChooser fileChooser;
    FakePictureLoader pictureLoader;
    FakeJpegWriter jpegWriter;
    FakeJpegDecoder jpegDecoder;
    FakeTrash trash;
    FakeProgramLauncher programLauncher;
    FakeScreenGrabber screenGrabber;
    FakeClipboard clipboard;
    FakeEventLoop eventLoop;
    FakeBrowserFactory browserFactory;
    FakeInputPrompt inputPrompt;
    FakeWindowActivator windowActivator;
    QStringList log;

    FakeServices();
    FakeServices(const FakeServices &) = delete;
    FakeServices &operator=(const FakeServices &) = delete;
    Services services() { return servicesOf(*this); }
};

inline FakeServices::FakeServices()
{
    messageBox.log = &log;
    for (Log *l : {&screenGrabber.log, &clipboard.log, &eventLoop.log, &browserFactory.log,
                   &inputPrompt.log, &windowActivator.log})
        l->lines = &log;
}

} // namespace platform
