// The browser capture and its two modes.
#include "main_window/controls.h"
#include "main_window/form1.h"
#include "main_window/program.h"
#include "platform/runtime.h"

#include <QAction>

void Form1::mnuoff_Click()
{
    if (IEMode == 0) {
        setChecked(mnuoff, true);
        setChecked(mnuon, false);
        IEMode = 1;
    }
}

void Form1::mnuon_Click()
{
    if (IEMode == 1) {
        setChecked(mnuoff, false);
        setChecked(mnuon, true);
        IEMode = 0;
    }
}

void Form1::Command5_Click()
{
    using platform::KeyEvents;
    const platform::Services &sys = program().services();
    // 1.
    const bool offline = IEMode == 1;
    QString target;
    std::unique_ptr<platform::Browser> ie; // 25. released on every way out; the window stays
    if (offline) {
        // 2.
        CommonDialog1.CancelError = true;
        // 3. From here any error ends the command silently; steps done stay done.
        try {
            // 4.-7.
            CommonDialog1.Flags = 4;
            CommonDialog1.Filter = QStringLiteral("html//htm (*.html;*.htm)|*.html;*.htm");
            CommonDialog1.FilterIndex = 1;
            CommonDialog1.ShowOpen();
            // 8.
            target = CommonDialog1.FileName;
        } catch (const rt::RuntimeError &) {
            return;
        }
    } else {
        // 9.
        const QString answer = sys.inputPrompt->InputBox(QStringLiteral("WWWを入力してください"),
                                                         QStringLiteral("オンラインキャプチャ"),
                                                         QStringLiteral("http//:www"));
        rt::checkpoint();
        // 10.
        if (answer.isEmpty())
            return;
        // 11. Exactly as typed.
        target = answer;
    }
    // The offline variant ends silently at an error; the online one reports it
    // and goes on running (its steps done stay done).
    try {
        // 12.-14.
        ie = sys.browserFactory->CreateObject();
        ie->setVisible(true);
        ie->Navigate(target);
        // 15. Formed once, in 32-bit arithmetic; nothing else runs meanwhile.
        const int32_t bound = rt::mul32(CaptureWait, 4000);
        for (int32_t i = 0; i <= bound; ++i)
            sys.eventLoop->pass();
        // A browser that ended without a window leaves nothing to capture: the
        // grab would only take this program's own window for the page.
        if (!ie->windowAppeared())
            throw rt::RuntimeError(rt::ErrCantCreateObject,
                                   QStringLiteral("ブラウザのウィンドウが開きませんでした"));
        // 16.
        sys.keyEvents->keybd_event(KeyEvents::VK_MENU, 0, 0, 0);
        sys.keyEvents->keybd_event(KeyEvents::VK_SNAPSHOT, 0, 0, 0);
        sys.keyEvents->keybd_event(KeyEvents::VK_SNAPSHOT, 0, KeyEvents::KEYEVENTF_KEYUP, 0);
        sys.keyEvents->keybd_event(KeyEvents::VK_MENU, 0, KeyEvents::KEYEVENTF_KEYUP, 0);
        // 17.
        if (offline)
            ie->setVisible(true);
        // 18.
        sys.eventLoop->DoEvents();
        rt::checkpoint();
        // 19.
        if (offline)
            ie->setVisible(true);
        // 20.
        AdoptClipboardPicture();
        // 21.
        if (offline)
            ie->setVisible(true);
        // 22.
        sys.windowActivator->AppActivate(Program::Title());
        // 23.
        program().MsgBox(QStringLiteral("キャプチャ完了"), platform::vbOKOnly,
                         QStringLiteral("キャプチャ処理"));
        // 24.
        Form_Resize();
    } catch (const rt::RuntimeError &e) {
        if (!offline)
            program().MsgBox(e.text());
    }
}
