#include "platform/linux_capture.h"

#include "platform/runtime.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QWidget>

#include "platform/x11.h"

#include <thread>

namespace platform
{

namespace
{
using x11::atom;

QList<uint32_t> property32(xcb_connection_t *c, xcb_window_t w, xcb_atom_t prop, xcb_atom_t type)
{
    QList<uint32_t> values;
    auto cookie = xcb_get_property(c, 0, w, prop, type, 0, 4096);
    xcb_get_property_reply_t *reply = xcb_get_property_reply(c, cookie, nullptr);
    if (reply && reply->format == 32) {
        const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(reply));
        for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i)
            values << data[i];
    }
    free(reply);
    return values;
}

QString windowTitle(xcb_connection_t *c, xcb_window_t w)
{
    auto cookie =
        xcb_get_property(c, 0, w, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"), 0, 1024);
    xcb_get_property_reply_t *reply = xcb_get_property_reply(c, cookie, nullptr);
    QString title;
    if (reply && reply->format == 8)
        title = QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(reply)),
                                  xcb_get_property_value_length(reply));
    free(reply);
    return title;
}

// The root's child that holds the window: its frame when a window manager
// reparented it, else the window itself.
xcb_window_t topLevelOf(xcb_connection_t *c, xcb_window_t w)
{
    const xcb_window_t root = x11::root(c);
    for (int depth = 0; w != XCB_NONE && w != root && depth < 64; ++depth) {
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        if (!tree)
            return XCB_NONE;
        const xcb_window_t parent = tree->parent;
        free(tree);
        if (parent == root)
            return w;
        w = parent;
    }
    return XCB_NONE;
}
} // namespace

void X11KeyEvents::keybd_event(uint8_t bVk, uint8_t, int32_t dwFlags, int32_t)
{
    if (dwFlags & KEYEVENTF_KEYUP) {
        down_.remove(bVk);
        return;
    }
    down_.insert(bVk);
    if (bVk != VK_SNAPSHOT)
        return;
    const QImage picture = down_.contains(VK_MENU) ? grabActiveWindow() : grabScreen();
    // Where the screen cannot be read, the clipboard stays as it was.
    if (!picture.isNull())
        QGuiApplication::clipboard()->setImage(picture);
}

QImage X11KeyEvents::grabScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect all = screen->virtualGeometry();
    return screen->grabWindow(0, all.x(), all.y(), all.width(), all.height()).toImage();
}

QImage X11KeyEvents::grabActiveWindow()
{
    xcb_connection_t *c = x11::connection();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!c || !screen)
        return {};
    const xcb_window_t root = x11::root(c);
    xcb_window_t active = XCB_NONE;
    const QList<uint32_t> named =
        property32(c, root, atom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (!named.isEmpty())
        active = named.first();
    if (active == XCB_NONE) {
        xcb_get_input_focus_reply_t *focus =
            xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
        if (focus)
            active = focus->focus;
        free(focus);
    }
    const xcb_window_t top = topLevelOf(c, active);
    if (top == XCB_NONE)
        return grabScreen();
    xcb_get_geometry_reply_t *geo = xcb_get_geometry_reply(c, xcb_get_geometry(c, top), nullptr);
    if (!geo)
        return {};
    const QRect rect(geo->x, geo->y, geo->width + 2 * geo->border_width,
                     geo->height + 2 * geo->border_width);
    free(geo);
    // What the screen shows there, in the screen's own pixels.
    const qreal dpr = screen->devicePixelRatio();
    return screen
        ->grabWindow(0, int(rect.x() / dpr), int(rect.y() / dpr), int(rect.width() / dpr),
                     int(rect.height() / dpr))
        .toImage();
}

QImage QtClipboard::GetData()
{
    return QGuiApplication::clipboard()->image();
}

void QtEventLoop::DoEvents()
{
    QCoreApplication::processEvents();
}

void QtEventLoop::pass()
{
    using namespace std::chrono;
    constexpr qint64 Batch = 20000; // 10 ms of passes
    const auto now = steady_clock::now();
    // Passes of one wait follow each other closely; a gap starts a new wait.
    if (passes_ == 0 || now - last_ > milliseconds(100)) {
        start_ = now;
        passes_ = 0;
    }
    last_ = now;
    if (++passes_ % Batch == 0) {
        std::this_thread::sleep_until(start_ + PassTime * passes_);
        last_ = steady_clock::now();
    }
}

QList<ProcessBrowserFactory::Command> ProcessBrowserFactory::commands()
{
    QList<Command> found;
    const QString fromEnv = qEnvironmentVariable("BROWSER");
    if (!fromEnv.isEmpty()) {
        // The usual convention: a colon-separated list of commands.
        for (const QString &entry : fromEnv.split(u':', Qt::SkipEmptyParts)) {
            QStringList words = QProcess::splitCommand(entry);
            if (words.isEmpty())
                continue;
            const QString program = QStandardPaths::findExecutable(words.takeFirst());
            if (!program.isEmpty())
                found << Command{program, words};
        }
        return found;
    }
    // Debian's /usr/bin/chromium is a script that reorders switches and drops
    // "--"; its binary takes them as given.
    const QStringList chromiumFamily{
        "/usr/lib/chromium/chromium", "chromium",      "google-chrome", "google-chrome-stable",
        "chromium-browser",           "brave-browser", "microsoft-edge"};
    for (const QString &name : chromiumFamily) {
        const QString program = name.startsWith(u'/')
                                    ? (QFileInfo(name).isExecutable() ? name : QString())
                                    : QStandardPaths::findExecutable(name);
        if (!program.isEmpty())
            found << Command{program, {"--new-window"}};
    }
    for (const QString &name : {QStringLiteral("firefox-esr"), QStringLiteral("firefox")}) {
        const QString program = QStandardPaths::findExecutable(name);
        if (!program.isEmpty())
            found << Command{program, {"--new-window"}};
    }
    return found;
}

QStringList ProcessBrowserFactory::argumentsFor(const Command &command, const QString &target)
{
    QStringList args;
    bool placed = false;
    for (const QString &a : command.arguments) {
        if (a.contains(QStringLiteral("%s"))) {
            args << QString(a).replace(QStringLiteral("%s"), target);
            placed = true;
        } else {
            args << a;
        }
    }
    if (!placed)
        args << QStringLiteral("--") << target;
    return args;
}

namespace
{
class ProcessBrowser : public Browser
{
public:
    explicit ProcessBrowser(ProcessBrowserFactory::Command command) : command_(std::move(command))
    {
    }
    // A new window is visible from its start.
    void setVisible(bool) override {}
    void Navigate(const QString &target) override
    {
        // Detached: the browser outlives this program, which never waits for it.
        if (!QProcess::startDetached(command_.program,
                                     ProcessBrowserFactory::argumentsFor(command_, target)))
            throw rt::RuntimeError(rt::ErrCantCreateObject);
    }

private:
    ProcessBrowserFactory::Command command_;
};
} // namespace

std::unique_ptr<Browser> ProcessBrowserFactory::CreateObject()
{
    const QList<Command> found = commands();
    if (found.isEmpty())
        throw rt::RuntimeError(rt::ErrCantCreateObject);
    return std::make_unique<ProcessBrowser>(found.first());
}

QString QtInputPrompt::InputBox(const QString &prompt, const QString &title,
                                const QString &defaultText)
{
    QInputDialog dialog;
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("キャンセル"));
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

void X11WindowActivator::AppActivate(const QString &title)
{
    xcb_connection_t *c = x11::connection();
    xcb_window_t target = XCB_NONE;
    if (c) {
        const xcb_window_t root = x11::root(c);
        const QList<uint32_t> clients =
            property32(c, root, atom(c, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
        xcb_window_t prefixed = XCB_NONE;
        for (uint32_t w : clients) {
            const QString t = windowTitle(c, w);
            if (t == title) {
                target = w;
                break;
            }
            if (prefixed == XCB_NONE && t.startsWith(title))
                prefixed = w;
        }
        if (target == XCB_NONE)
            target = prefixed;
        if (target != XCB_NONE) {
            // Asked as a pager would ask: window managers honour that at once.
            x11::sendToRoot(c, target, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0, 0, 0});
            return;
        }
    }
    // No window manager lists the windows: look among this program's own.
    QWidget *prefixed = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (!w->isVisible())
            continue;
        if (w->windowTitle() == title) {
            prefixed = w;
            break;
        }
        if (!prefixed && w->windowTitle().startsWith(title))
            prefixed = w;
    }
    if (prefixed) {
        prefixed->raise();
        prefixed->activateWindow();
    }
}

} // namespace platform
