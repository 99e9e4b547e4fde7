#pragma once
// The program with its real Linux services, only the dialogs and message
// boxes answered by doubles; and what the capture tests measure pictures by.

#include "app/linux_bundle.h"
#include "harness.h"

#include <QFile>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>

#include <csignal>

struct RealHarness : Harness {
    app::LinuxServices real;
    // adjust may put real services of its own (with short bounds) in place.
    explicit RealHarness(const std::function<void(platform::Services &)> &adjust = {})
    {
        platform::Services s = real.services();
        // Message boxes answer at once; everything else is real.
        s.messageBox = &fakes.messageBox;
        s.singleInstance = &fakes.singleInstance;
        s.fileChooser = &fakes.fileChooser;
        s.inputPrompt = &fakes.inputPrompt;
        if (adjust)
            adjust(s);
        services = s;
        program = std::make_unique<Program>(services);
    }
    // The program goes before the services it uses (a size read-out may still
    // be encoding with the real writer).
    ~RealHarness() { program.reset(); }
};

// Sets (or with a null value unsets) a variable of this process's environment
// once no size read-out is encoding: libjpeg reads the environment for every
// compressor, and a read beside a change can crash.
inline void setEnvironment(RealHarness &h, const char *name, const QByteArray &value)
{
    QTRY_VERIFY(h.doc().jpegSize() != PictureDocument::JpegSizeComing);
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, value);
}

// The share of pixels within a small distance of the colour.
inline double share(const QImage &img, QColor c)
{
    if (img.isNull())
        return 0;
    qint64 near = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor p = img.pixelColor(x, y);
            near +=
                qAbs(p.red() - c.red()) + qAbs(p.green() - c.green()) + qAbs(p.blue() - c.blue()) <
                30;
        }
    return double(near) / (qint64(img.width()) * img.height());
}

// A local page of one colour, as the browser captures open it.
inline QString onePage(const QString &folder, const char *colour)
{
    QString page = folder + QStringLiteral("/page.html");
    QFile html(page);
    if (html.open(QIODevice::WriteOnly))
        html.write(QByteArray("<!doctype html><html><body style=\"margin:0;background:") + colour +
                   "\"></body></html>");
    return page;
}

// The offline capture of a local page of one colour through a browser script
// (started as $BROWSER; without one, the program's own choice of browser),
// at the wait the program starts with unless a slider value is given.
// Returns the browser's process id; every browser started writes its id to
// dir's "pids".
inline qint64 captureOnePage(RealHarness &h, const QString &browserScript, const QTemporaryDir &dir,
                             const char *colour, int slider = 0)
{
    const QString pids = dir.filePath(QStringLiteral("pids"));
    setEnvironment(h, "MIPO_BROWSER_PIDS", pids.toLocal8Bit());
    setEnvironment(h, "TMPDIR", dir.path().toLocal8Bit());
    if (!browserScript.isEmpty())
        setEnvironment(h, "BROWSER", QFile::encodeName(browserScript));
    h.fakes.fileChooser.answers << onePage(dir.path(), colour);
    if (slider > 0)
        h.f1().captureWaitBar->setValue(slider);
    h.f1().browserCaptureClicked();
    setEnvironment(h, "BROWSER", {});
    setEnvironment(h, "TMPDIR", {});
    QFile pidFile(pids);
    return pidFile.open(QIODevice::ReadOnly) ? pidFile.readAll().trimmed().toLongLong() : 0;
}

// A real click (through XTest) on the widget: at its middle, or at the share
// of its width given.
inline bool clickOn(const QWidget *widget, double across = 0.5)
{
    const QPoint at =
        widget->mapToGlobal(QPoint(int(widget->width() * across), widget->height() / 2));
    return QProcess::execute(QStringLiteral("xdotool"),
                             {QStringLiteral("mousemove"), QString::number(at.x()),
                              QString::number(at.y()), QStringLiteral("click"),
                              QStringLiteral("1")}) == 0;
}

// Real pointer motion (through XTest) onto the widget: a user who comes back to it.
inline bool moveOver(const QWidget *widget)
{
    const QPoint at = widget->mapToGlobal(widget->rect().center());
    return QProcess::execute(QStringLiteral("xdotool"),
                             {QStringLiteral("mousemove"), QString::number(at.x() + 1),
                              QString::number(at.y() + 1), QStringLiteral("mousemove"),
                              QString::number(at.x()), QString::number(at.y())}) == 0;
}

// A $BROWSER that starts and never puts a window up; its process id goes to
// pidFile (a path without blanks).
inline QByteArray windowlessBrowser(const QString &pidFile)
{
    return QByteArray("sh -c \"echo $$ > ") + QFile::encodeName(pidFile) +
           "; exec sleep 60\" windowless";
}

// Ends the processes whose ids the file holds, one a line.
inline void endProcessIn(const QString &pidFile)
{
    QFile file(pidFile);
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : file.readAll().split('\n'))
            if (const qint64 pid = line.trimmed().toLongLong(); pid > 0)
                ::kill(pid_t(pid), SIGTERM);
}

// A "chromium" in the folder that starts Debian's with a throw-away profile
// and nothing that goes to the network; the program adds its own switches
// (the platform, the password store) as it does for the real one.
inline QString chromiumWrapper(const QTemporaryDir &dir)
{
    QString path = dir.filePath(QStringLiteral("chromium"));
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        return {};
    script.write("#!/bin/sh\n"
                 "profile=$(mktemp -d \"${TMPDIR:-/tmp}/mipo-chromium-XXXXXX\")\n"
                 "[ -n \"${MIPO_BROWSER_PIDS:-}\" ] && echo $$ >> \"$MIPO_BROWSER_PIDS\"\n"
                 "exec /usr/lib/chromium/chromium --no-sandbox --user-data-dir=\"$profile\" "
                 "--no-first-run --no-default-browser-check --disable-background-networking "
                 "--disable-component-update --disable-sync --disable-gpu \"$@\"\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                          QFileDevice::ExeOther);
    return path;
}
