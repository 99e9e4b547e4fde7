#include "platform/linux_capture.h"

#include "platform/linux_services.h"
#include "platform/portal_screenshot.h"
#include "platform/runtime.h"
#include "platform/wait_note.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include "platform/x11.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <poll.h>
#include <thread>

namespace platform
{

namespace
{
using x11::atom;

QString windowTitle(xcb_connection_t *c, xcb_window_t w)
{
    const x11::Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"), 0, 1024),
        nullptr));
    if (!reply || reply->format != 8)
        return {};
    return QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(reply.get())),
                             xcb_get_property_value_length(reply.get()));
}

// WM_CLASS's two names (instance, class), lower case.
QStringList windowClass(xcb_connection_t *c, xcb_window_t w)
{
    const x11::Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr));
    if (!reply || reply->format != 8)
        return {};
    const QByteArray value(static_cast<const char *>(xcb_get_property_value(reply.get())),
                           xcb_get_property_value_length(reply.get()));
    QStringList names;
    for (const QByteArray &name : value.split('\0'))
        if (!name.isEmpty())
            names << QString::fromLatin1(name).toLower();
    return names;
}

// A browser's name without what its packages add: "google-chrome-stable"
// and the "google-chrome" of its windows are one.
QString browserKind(QString name)
{
    name = name.toLower();
    for (const char *tail : {"-stable", "-beta", "-dev", "-unstable", "-browser", "-bin"})
        if (name.endsWith(QLatin1String(tail)))
            name.chop(qsizetype(std::strlen(tail)));
    return name;
}

// Whether the process is the one given or descends from it.
bool descendsFrom(qint64 pid, qint64 ancestor)
{
    for (int depth = 0; pid > 1 && depth < 64; ++depth) {
        if (pid == ancestor)
            return true;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        // The parent follows the name in parentheses, which may hold anything.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2)
            return false;
        pid = fields[1].toLongLong();
    }
    return false;
}

// The windows on screen, bottom first: the root's mapped children (frames,
// under a window manager), menus and tooltips left out.
QList<xcb_window_t> viewableTopLevelsInOrder()
{
    QList<xcb_window_t> found;
    xcb_connection_t *c = x11::connection();
    if (!c)
        return found;
    const x11::Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, x11::root(c)), nullptr));
    if (!tree)
        return found;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const int n = xcb_query_tree_children_length(tree.get());
    QList<xcb_get_window_attributes_cookie_t> cookies;
    for (int i = 0; i < n; ++i)
        cookies << xcb_get_window_attributes(c, children[i]);
    for (int i = 0; i < n; ++i) {
        const x11::Reply<xcb_get_window_attributes_reply_t> a(
            xcb_get_window_attributes_reply(c, cookies[i], nullptr));
        if (a && a->map_state == XCB_MAP_STATE_VIEWABLE && !a->override_redirect &&
            a->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT)
            found << children[i];
    }
    return found;
}

QSet<xcb_window_t> viewableTopLevels()
{
    const QList<xcb_window_t> list = viewableTopLevelsInOrder();
    return QSet<xcb_window_t>(list.begin(), list.end());
}
} // namespace

namespace
{
// Waits on our own connection for the event the test accepts, until the deadline.
template <class Accept>
x11::Reply<xcb_generic_event_t>
waitForEvent(xcb_connection_t *c, std::chrono::steady_clock::time_point deadline, Accept accept)
{
    using namespace std::chrono;
    for (;;) {
        while (x11::Reply<xcb_generic_event_t> e{xcb_poll_for_event(c)}) {
            if (accept(e.get()))
                return e;
        }
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (xcb_connection_has_error(c) || left <= 0)
            return nullptr;
        pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&p, 1, int(std::min<long long>(left, 100)));
    }
}

// The whole value of a property of ours, read in pieces; deleted once read.
bool takeProperty(xcb_connection_t *c, xcb_window_t w, xcb_atom_t prop, xcb_atom_t &type,
                  QByteArray &value)
{
    value.clear();
    for (uint32_t offset = 0;;) {
        const x11::Reply<xcb_get_property_reply_t> r{xcb_get_property_reply(
            c, xcb_get_property(c, 0, w, prop, XCB_GET_PROPERTY_TYPE_ANY, offset, 1u << 20),
            nullptr)};
        if (!r)
            return false;
        type = r->type;
        const int bytes = xcb_get_property_value_length(r.get());
        value.append(static_cast<const char *>(xcb_get_property_value(r.get())), bytes);
        offset += uint32_t(bytes) / 4;
        if (r->bytes_after == 0 || bytes == 0)
            break;
    }
    xcb_delete_property(c, w, prop);
    xcb_flush(c);
    return true;
}

// Reads the clipboard as the given type on a connection of our own: an owner
// that never answers costs no more than the time left, which Qt's own reader
// would spend again for every picture type it asks for.
class SelectionReader
{
public:
    explicit SelectionReader(std::chrono::steady_clock::time_point deadline) : deadline_(deadline)
    {
        c_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c_))
            return;
        w_ = xcb_generate_id(c_);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w_, x11::root(c_), 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &events);
        clipboard_ = atom(c_, "CLIPBOARD");
        incr_ = atom(c_, "INCR");
        prop_ = atom(c_, "MIPOQUIBBO_SELECTION");
        ok_ = true;
    }
    ~SelectionReader() { xcb_disconnect(c_); }
    SelectionReader(const SelectionReader &) = delete;
    SelectionReader &operator=(const SelectionReader &) = delete;

    xcb_atom_t intern(const char *name) { return atom(c_, name); }

    // The value, or nothing when the owner refused or did not answer in time.
    std::optional<QByteArray> read(xcb_atom_t target, qint64 maxBytes)
    {
        if (!ok_)
            return std::nullopt;
        xcb_convert_selection(c_, w_, clipboard_, target, prop_, XCB_CURRENT_TIME);
        xcb_flush(c_);
        x11::Reply<xcb_generic_event_t> e =
            waitForEvent(c_, deadline_, [&](xcb_generic_event_t *e) {
                return (e->response_type & 0x7f) == XCB_SELECTION_NOTIFY &&
                       reinterpret_cast<xcb_selection_notify_event_t *>(e)->requestor == w_;
            });
        if (!e)
            return std::nullopt;
        const xcb_atom_t property =
            reinterpret_cast<xcb_selection_notify_event_t *>(e.get())->property;
        xcb_atom_t type = XCB_NONE;
        QByteArray value;
        if (property == XCB_NONE || !takeProperty(c_, w_, prop_, type, value))
            return std::nullopt;
        if (type != incr_)
            return value;
        // Large values come in pieces: each one after we deleted the last, an
        // empty one at the end.
        QByteArray whole;
        for (;;) {
            e = waitForEvent(c_, deadline_, [&](xcb_generic_event_t *e) {
                const auto *p = reinterpret_cast<xcb_property_notify_event_t *>(e);
                return (e->response_type & 0x7f) == XCB_PROPERTY_NOTIFY && p->window == w_ &&
                       p->atom == prop_ && p->state == XCB_PROPERTY_NEW_VALUE;
            });
            if (!e)
                return std::nullopt;
            if (!takeProperty(c_, w_, prop_, type, value))
                return std::nullopt;
            if (value.isEmpty())
                return whole;
            whole += value;
            if (whole.size() > maxBytes)
                return std::nullopt;
        }
    }

private:
    std::chrono::steady_clock::time_point deadline_;
    xcb_connection_t *c_ = nullptr;
    xcb_window_t w_ = XCB_NONE;
    xcb_atom_t clipboard_ = XCB_NONE, incr_ = XCB_NONE, prop_ = XCB_NONE;
    bool ok_ = false;
};

bool withinLimits(const QImage &picture)
{
    return qint64(picture.width()) * picture.height() <= QtPictureLoader::MaxPixels;
}
} // namespace

void QtClipboard::SetData(const QImage &picture)
{
    QGuiApplication::clipboard()->setImage(picture);
}

QImage QtClipboard::GetData()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (clipboard->ownsClipboard() || !x11::connection()) {
        const QImage own = clipboard->image();
        return withinLimits(own) ? own : QImage();
    }
    SelectionReader reader(std::chrono::steady_clock::now() + ImportTime);
    const std::optional<QByteArray> targets = reader.read(reader.intern("TARGETS"), 1 << 20);
    if (!targets)
        return {};
    const auto *offered = reinterpret_cast<const xcb_atom_t *>(targets->constData());
    const QList<xcb_atom_t> list(offered, offered + targets->size() / 4);
    for (const char *type : {"image/png", "image/bmp", "image/x-bmp", "image/x-MS-bmp",
                             "image/jpeg", "image/gif", "image/tiff", "image/x-portable-pixmap"}) {
        const xcb_atom_t target = reader.intern(type);
        if (!list.contains(target))
            continue;
        std::optional<QByteArray> bytes =
            reader.read(target, QtPictureLoader::limits().maxFileBytes);
        if (!bytes)
            return {}; // out of time, or refused
        QBuffer device(&*bytes);
        device.open(QIODevice::ReadOnly);
        QImage picture = QtPictureLoader::decode(device);
        if (!picture.isNull())
            return picture;
    }
    return {};
}

void QtEventLoop::DoEvents()
{
    QCoreApplication::processEvents();
}

void QtEventLoop::paintFor(int milliseconds)
{
    const PaintingWait held;
    if (QtWaitNote::up()) {
        QtWaitNote::sleep(milliseconds);
        return;
    }
    QEventLoop wait;
    QTimer::singleShot(milliseconds, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
}

void QtEventLoop::countedWait(int64_t passes, const std::function<bool()> &stopEarly)
{
    if (passes <= 0)
        return;
    const std::chrono::nanoseconds time(passes * PassNanoseconds);
    if (!QtWaitNote::up() && !stopEarly) {
        // Sleeps the passes' time: the wait does not burn a core.
        std::this_thread::sleep_for(time);
        return;
    }
    const PaintingWait held;
    QtWaitNote::sleep(int(std::chrono::ceil<std::chrono::milliseconds>(time).count()), stopEarly);
}

std::unique_ptr<WaitNote> QtEventLoop::noteWait(const QString &what)
{
    return std::make_unique<QtWaitNote>(what);
}

QStringList ProcessBrowserFactory::chromiumFamily()
{
    // Debian's /usr/bin/chromium is a script that reorders switches and drops
    // "--"; its binary takes them as given.
    return {"/usr/lib/chromium/chromium", "chromium",      "google-chrome", "google-chrome-stable",
            "chromium-browser",           "brave-browser", "microsoft-edge"};
}

ProcessBrowserFactory::ProcessBrowserFactory(int windowBoundMs, QStringList chromiums)
    : windowBoundMs_(windowBoundMs), chromiums_(std::move(chromiums))
{
}

QList<ProcessBrowserFactory::Command> ProcessBrowserFactory::commands() const
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
    // A fresh profile would otherwise wait on the desktop's wallet or keyring
    // to be set up, in a dialog of its own, before its window comes.
    QStringList chromiumArguments{"--new-window", "--password-store=basic"};
    // The platform this program runs on: in a Wayland session with XWayland
    // the window is an X11 one, which can be activated by its title and read.
    if (!x11::connection())
        chromiumArguments.prepend(QStringLiteral("--ozone-platform=wayland"));
    else if (isWaylandSession())
        chromiumArguments.prepend(QStringLiteral("--ozone-platform=x11"));
    for (const QString &name : chromiums_) {
        const QString program = name.startsWith(u'/')
                                    ? (QFileInfo(name).isExecutable() ? name : QString())
                                    : QStandardPaths::findExecutable(name);
        if (!program.isEmpty())
            found << Command{program, chromiumArguments};
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
            // Standing alone, the target could be taken for a switch.
            if (a == QStringLiteral("%s") && args.value(args.size() - 1) != QStringLiteral("--"))
                args << QStringLiteral("--");
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
// The browser runs under a shell that writes its exit status to a file once
// it ends: a detached process is not ours to wait for.
const char *const StatusShell =
    "status=$1; shift; \"$@\"; s=$?; { echo $s > \"$status\"; } 2>/dev/null";

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
        before_ = viewableTopLevels();
        const QString status = statusFolder_.isValid()
                                   ? statusFolder_.filePath(QStringLiteral("status"))
                                   : QStringLiteral("/dev/null");
        const QStringList arguments =
            QStringList{QStringLiteral("-c"), QString::fromLatin1(StatusShell),
                        QStringLiteral("mipoquibbo-browser"), status, command_.program} +
            ProcessBrowserFactory::argumentsFor(command_, target);
        // Detached: the browser outlives this program, which never waits for it.
        if (!QProcess::startDetached(QStringLiteral("/bin/sh"), arguments, {}, &pid_)) {
            started_ = false;
            qCWarning(captureLog) << "the browser could not be started:" << command_.program;
            return;
        }
        qCInfo(captureLog) << "browser started:" << command_.program << pid_;
    }
    std::optional<int> exitStatus() override
    {
        if (!started_)
            return CouldNotStart;
        if (!statusFolder_.isValid())
            return std::nullopt;
        QFile file(statusFolder_.filePath(QStringLiteral("status")));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        bool ok = false;
        const int status = file.readAll().trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt; // being written
        qCInfo(captureLog) << "the browser ended with" << status;
        return status;
    }
    ScreenGrabber::Window window() override
    {
        if (window_ || !x11::connection())
            return window_;
        // The newest of the windows that came since the navigation began and
        // belong to the browser: its process's or a descendant's, or (a
        // browser already running puts its new window up from its own
        // process) one of a browser of the same kind. Another program's
        // window that happens to come meanwhile is never the page.
        const QList<xcb_window_t> stacked = viewableTopLevelsInOrder();
        xcb_connection_t *c = x11::connection();
        for (auto it = stacked.rbegin(); it != stacked.rend(); ++it) {
            if (before_.contains(*it) || foreign_.contains(*it))
                continue;
            if (isTheBrowsers(c, x11::clientOf(c, *it))) {
                window_ = *it;
                break;
            }
            foreign_.insert(*it);
            qCInfo(captureLog) << "not the browser's window:" << Qt::hex << *it;
        }
        if (window_) {
            qCInfo(captureLog) << "browser window" << Qt::hex << window_;
            // To the front, as a pager asks: what the user sees is what is taken.
            x11::sendToRoot(c, x11::clientOf(c, window_), "_NET_ACTIVE_WINDOW",
                            {2, XCB_CURRENT_TIME, 0, 0, 0});
        }
        return window_;
    }

private:
    bool isTheBrowsers(xcb_connection_t *c, xcb_window_t client) const
    {
        const QList<uint32_t> pid =
            x11::property32(c, client, atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL);
        if (!pid.isEmpty() && pid_ > 0 && descendsFrom(qint64(pid.first()), pid_))
            return true;
        const QString kind = browserKind(QFileInfo(command_.program).fileName());
        const QStringList names = windowClass(c, client);
        return std::any_of(names.begin(), names.end(),
                           [&](const QString &name) { return browserKind(name) == kind; });
    }

    ProcessBrowserFactory::Command command_;
    QTemporaryDir statusFolder_;
    QSet<xcb_window_t> before_, foreign_;
    xcb_window_t window_ = XCB_NONE;
    qint64 pid_ = 0;
    bool started_ = true;
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
    // Wide enough for its title beside the window manager's buttons, as the
    // message boxes are (the dialog's layout sizes it by its contents).
    const int titleWidth = dialog.fontMetrics().horizontalAdvance(title) + 160;
    // A line edit keeps 32,767 characters unless told otherwise: a long address
    // goes on whole.
    if (auto *line = dialog.findChild<QLineEdit *>()) {
        line->setMaxLength(std::numeric_limits<int>::max());
        line->setMinimumWidth(titleWidth);
    }
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
            x11::property32(c, root, atom(c, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
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
