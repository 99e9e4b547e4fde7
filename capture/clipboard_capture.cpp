// The desktop copy and the clipboard import.
#include "info_window/form2.h"
#include "main_window/controls.h"
#include "main_window/form1.h"
#include "main_window/program.h"
#include "platform/runtime.h"

void Form1::mnucopy_Click()
{
    // 1. Print Screen pressed, never released.
    program().services().keyEvents->keybd_event(platform::KeyEvents::VK_SNAPSHOT, 1, 0, 0);
    // 2.
    program().services().eventLoop->DoEvents();
    rt::checkpoint();
}

void Form1::mnuclip_Click()
{
    // 1.
    program().Form2().Show();
    // 2.
    AdoptClipboardPicture();
    // 3.
    Form_Resize();
}

void Form1::AdoptClipboardPicture()
{
    const QImage picture = program().services().clipboard->GetData();
    // With no picture on the clipboard the current one stays: nothing is lost.
    if (picture.isNull())
        return;
    // 1.
    Picture1->setPicture(picture);
    // 2.
    Image1->setPicture(Picture1->picture());
    // 3.
    PicWidth = Picture1->Width();
    // 4.
    PicHeight = rt::roundToInt32(Picture1->Height());
}
