#pragma once
// A program started with test doubles for its platform services, the
// run-time's unhandled-error report and end recorded instead of acted on.

#include "app/program.h"
#include "core/runtime.h"
#include "document/picture_document.h"
#include "doubles/fake_services.h"
#include "info_window/information_window.h"
#include "main_window/main_window.h"
#include "widgets/controls.h"

#include <QApplication>
#include <QTest>

#include <functional>
#include <memory>

// Makes the window the active one, asking again until the window system
// agrees (a window not yet mapped cannot take the focus): keys reach a
// window's shortcuts only then. False when it never does within the bound.
inline bool bringToFront(QWidget &window, int timeoutMs = 30000)
{
    return QTest::qWaitFor(
        [&] {
            if (!window.isActiveWindow())
                window.activateWindow();
            return window.isActiveWindow();
        },
        timeoutMs);
}

struct Harness {
    platform::FakeServices fakes;
    platform::Services services = fakes.services();
    QStringList unhandled;
    int quitStatus = -1;
    std::unique_ptr<Program> program;

    // adjust may put real services in place of doubles before the program starts.
    explicit Harness(const std::function<void(platform::Services &)> &adjust = {})
    {
        if (adjust)
            adjust(services);
        QApplication::setFont(defs::font(defs::DefaultFontPt));
        rt::resetEnd();
        rt::setHost({[this](const QString &text) { unhandled << text; },
                     [this](int status) { quitStatus = status; }});
        program = std::make_unique<Program>(services);
    }
    ~Harness()
    {
        program.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        rt::resetEnd();
    }
    Harness(const Harness &) = delete;
    Harness &operator=(const Harness &) = delete;

    // Starts as the executable does and lets the windows appear.
    void start()
    {
        program->start();
        if (!rt::ended()) {
            QVERIFY(QTest::qWaitForWindowExposed(&program->mainWindow(), 30000));
            QVERIFY(QTest::qWaitForWindowExposed(&program->informationWindow(), 30000));
        }
    }
    MainWindow &f1() { return program->mainWindow(); }
    InformationWindow &f2() { return program->informationWindow(); }
    PictureDocument &doc() { return program->document(); }
};

// A picture of the given size in the way a command adopts one: the document's
// picture, PicWidth and PicHeight from it.
inline void adopt(PictureDocument &doc, int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    doc.setPicture(picture);
    doc.PicWidth = doc.pictureWidth();
    doc.PicHeight = rt::roundToInt32(doc.pictureHeight());
}
