#include "doubles/fake_services.h"

namespace platform
{

FakeServices::FakeServices()
{
    messageBox.log = &log;
    for (Log *l : {&screenGrabber.log, &clipboard.log, &eventLoop.log, &browserFactory.log,
                   &inputPrompt.log, &windowActivator.log})
        l->lines = &log;
}

} // namespace platform
