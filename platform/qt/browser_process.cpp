#include "platform/qt/browser_process.h"

#include "core/capture_log.h"
#include "core/runtime.h"
#include "platform/x11/session.h"
#include "platform/x11/x11.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace platform
{
using x11::atom;
using x11::viewableTopLevels;
using x11::viewableTopLevelsInOrder;
using x11::windowClass;
using x11::windowTitle;

namespace
{
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
} // namespace

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
    void open(const QString &target) override
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

std::unique_ptr<Browser> ProcessBrowserFactory::create()
{
    const QList<Command> found = commands();
    if (found.isEmpty())
        throw rt::RuntimeError(rt::ErrCantCreateObject);
    return std::make_unique<ProcessBrowser>(found.first());
}

} // namespace platform
