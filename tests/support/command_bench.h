#pragma once
// A document as the main window's start-up leaves it, with a double of each
// service, for the commands' tests: what the views were asked to show is
// recorded.

#include "about/system_info.h"
#include "capture/browser_capture.h"
#include "capture/clipboard_capture.h"
#include "core/runtime.h"
#include "document/picture_document.h"
#include "doubles/fake_services.h"
#include "files.h"
#include "jpeg_encoder/writer.h"
#include "picture_files/convert_files.h"
#include "picture_files/file_dialog.h"
#include "picture_files/open_picture.h"
#include "picture_files/save_jpeg.h"
#include "picture_files/size_estimate.h"
#include "platform/files/desktop_trash.h"
#include "platform/picture_io/picture_loader.h"
#include "platform/qt/program_launcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QUrl>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

namespace command_bench
{
// A file named by its whole path, as a caller without a folder of its own names it.
platform::FileInFolder inFolder(const QString &path)
{
    return {AT_FDCWD, QFile::encodeName(path), path};
}

QImage picture(int w, int h, QColor c = Qt::darkGreen)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

const QString SaveTitle = QStringLiteral("保存情況");

// A document as the main window's start-up leaves it, with the services.
struct Bench {
    platform::FakeServices fakes;
    PictureDocument doc;
    FileDialog dialog{&fakes.fileChooser};
    // What the views were asked to do, in order.
    QStringList views;

    Bench()
    {
        doc.setPicture(picture(64, 64));
        doc.PicWidth = doc.pictureWidth();
        doc.PicHeight = rt::roundToInt32(doc.pictureHeight());
        doc.setJpegQuality(50);
        doc.offlineMode = 1;
        doc.CaptureWait = 1500;
        QObject::connect(&doc, &PictureDocument::informationWindowRequested,
                         [this] { views << "InformationWindow.showWindow"; });
        QObject::connect(&doc, &PictureDocument::fileNameShown, [this](const QString &n) {
            views << "InformationWindow.fileNameLabel " + n;
        });
        QObject::connect(&doc, &PictureDocument::fullSizeRequested,
                         [this] { views << "pictureView full size"; });
        QObject::connect(&doc, &PictureDocument::fitRequested, [this] {
            views << "fitToPicture";
            fakes.log << "fitToPicture";
        });
        QObject::connect(&doc, &PictureDocument::pictureChanged, [this] {
            views << QStringLiteral("picture %1x%2")
                         .arg(doc.picture().width())
                         .arg(doc.picture().height());
        });
    }
    void open() { picture_files::openPicture(doc, dialog, fakes.pictureLoader, &fakes.messageBox); }
    void save()
    {
        picture_files::saveJpeg(
            doc, dialog, {fakes.pictureLoader, fakes.jpegWriter, fakes.trash, fakes.messageBox});
    }
    // Readies a capture of a page in the mode given: the address the prompt
    // answers with online, a chosen file offline.
    void pageIn(bool online)
    {
        if (online)
            capture::chooseOnline(doc);
        else
            fakes.fileChooser.answers << QStringLiteral("/a.html");
    }
    void capture()
    {
        capture::captureBrowserPage(doc, dialog,
                                    {fakes.inputPrompt, fakes.browserFactory, fakes.eventLoop,
                                     fakes.screenGrabber, fakes.clipboard, fakes.windowActivator,
                                     fakes.messageBox});
    }
};
} // namespace command_bench
