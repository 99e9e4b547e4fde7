// The Open command: a JPEG, BMP or GIF file becomes the current picture.
#include "info_window/form2.h"
#include "main_window/controls.h"
#include "main_window/form1.h"
#include "main_window/program.h"
#include "platform/runtime.h"

#include <QLabel>

void Form1::mnuopen_Click()
{
    // 1.
    CommonDialog1.CancelError = true;
    // 2. From here any error ends the command silently; steps done stay done.
    try {
        // 3.
        CommonDialog1.Flags = 4;
        CommonDialog1.Filter = QStringLiteral("JPEG (*.jpg)|*.jpg|") +
                               QStringLiteral("BMP (*.bmp)|*.bmp|") +
                               QStringLiteral("GIF (*.gif)|*.gif|");
        CommonDialog1.FilterIndex = 2;
        CommonDialog1.ShowOpen();
        // 4.
        FileName = CommonDialog1.FileName;
        // 5.
        Picture1->setPicture(program().services().pictureLoader->LoadPicture(FileName));
        // 6.
        Image1->setPicture(Picture1->picture());
        // 7.
        Image1->setWidthTwips(Picture1->Width());
        Image1->setHeightTwips(Picture1->Height());
        // 8.
        PicWidth = Picture1->Width();
        PicHeight = rt::roundToInt32(Picture1->Height());
        // 9. Loads the information window (without showing it) if it is not loaded.
        program().Form2().Label1->setText(FileName);
        // 10.
        Form_Resize();
    } catch (const rt::RuntimeError &) {
    }
}
