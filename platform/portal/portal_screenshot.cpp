#include "platform/portal/portal_screenshot.h"

#include "core/capture_log.h"
#include "platform/picture_io/picture_loader.h"
#include "platform/qt/wait_note.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <atomic>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

namespace
{
const QString Portal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
// How long an answer may follow its dialog's going.
constexpr int AnswerAfterDialogMs = 2000;
// A late answer is still waited for this long, so its file can be removed.
constexpr int LateAnswerMs = 10 * 60 * 1000;

// The file the portal named, when it was written for this request and is ours.
bool writtenForUs(const QString &path, qint64 sinceSeconds)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_uid == ::geteuid() && st.st_mtime >= sinceSeconds;
}

// One request: its one Response signal, and the file that answer names.
class Request : public QObject
{
    Q_OBJECT
public:
    Request(QDBusConnection bus, qint64 since) : bus_(std::move(bus)), since_(since) {}
    ~Request() override { listen(false); }

    bool arrived = false;
    uint code = 2;
    QVariantMap results;
    bool late = false; // given up on: a late answer only has its file removed

    bool listen(bool on)
    {
        if (path_.isEmpty())
            return false;
        const char *slot = SLOT(take(uint, QVariantMap));
        return on ? bus_.connect(Portal, path_, RequestInterface, QStringLiteral("Response"), this,
                                 slot)
                  : bus_.disconnect(Portal, path_, RequestInterface, QStringLiteral("Response"),
                                    this, slot);
    }
    void follow(const QString &path)
    {
        listen(false);
        path_ = path;
        listen(true);
    }
    const QString &path() const { return path_; }

    // Given up on: the desktop's dialog is closed where it can be, and a
    // file that comes all the same is removed.
    void abandon()
    {
        late = true;
        bus_.send(QDBusMessage::createMethodCall(Portal, path_, RequestInterface,
                                                 QStringLiteral("Close")));
        QTimer::singleShot(LateAnswerMs, this, &QObject::deleteLater);
    }

    QString namedFile() const
    {
        return QUrl(results.value(QStringLiteral("uri")).toString()).toLocalFile();
    }
    void removeNamedFile() const
    {
        const QString file = namedFile();
        if (!file.isEmpty() && writtenForUs(file, since_)) {
            QFile::remove(file);
            qCInfo(captureLog) << "removed the portal's file" << file;
        }
    }

public slots:
    void take(uint response, const QVariantMap &answer)
    {
        arrived = true;
        code = response;
        results = answer;
        if (late) {
            qCInfo(captureLog) << "the portal answered after the time-out:" << response;
            removeNamedFile();
            deleteLater();
            return;
        }
        emit done();
    }

signals:
    void done();

private:
    QDBusConnection bus_;
    qint64 since_;
    QString path_;
};

} // namespace

QImage readPictureFile(const QString &path)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st {
    };
    QFile file;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    return QtPictureLoader::decode(file);
}

void ensurePicturesFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty())
        folder = QDir::home().filePath(QStringLiteral("Pictures"));
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        qCInfo(captureLog) << "made the pictures folder" << folder;
}

bool screenshotsRefusedByDesktop()
{
    QDBusMessage lookup = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
        QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
        QStringLiteral("org.freedesktop.impl.portal.PermissionStore"), QStringLiteral("Lookup"));
    lookup << QStringLiteral("screenshot") << QStringLiteral("screenshot");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(lookup, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    QMap<QString, QStringList> permissions;
    reply.arguments().constFirst().value<QDBusArgument>() >> permissions;
    // Programs outside a sandbox are kept under the empty name.
    return permissions.value(QString()).contains(QStringLiteral("no"));
}

PortalShot portalScreenshot(std::chrono::milliseconds timeout, bool interactive,
                            std::chrono::milliseconds focusBound)
{
    PortalShot shot;
    QElapsedTimer clock;
    clock.start();
    const qint64 since = ::time(nullptr) - 1;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        shot.failure = QStringLiteral("no session bus");
        qCWarning(captureLog) << "portal screenshot:" << shot.failure;
        return shot;
    }
    ensurePicturesFolder();
    // The desktop may ask first, or show its screenshot dialog: the note stays
    // out of the picture it then takes.
    const QtWaitNote note(
        interactive ? QStringLiteral("デスクトップのスクリーンショット画面を待っています…")
                    : QStringLiteral("デスクトップが画面を渡すのを待っています…"),
        QtWaitNote::Screenshots::KeepOut);
    // The request's object path is known before the call, so the answer cannot
    // come before we listen for it.
    static std::atomic<int> serial{0};
    const QString token =
        QStringLiteral("mipoquibbo%1_%2").arg(::getpid()).arg(serial.fetch_add(1));
    const QString sender = bus.baseService().mid(1).replace(u'.', u'_');
    auto *request = new Request(bus, since);
    request->follow(
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token));

    QDBusMessage call = QDBusMessage::createMethodCall(
        Portal, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
    call << QString()
         << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("interactive"), interactive}};
    const QDBusMessage reply = bus.call(call, QDBus::Block, int(timeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        delete request;
        shot.failure = reply.errorName() + u' ' + reply.errorMessage();
        qCWarning(captureLog) << "portal screenshot call failed:" << shot.failure;
        return shot;
    }
    // Older portals make up their own path.
    const QString answered = reply.arguments().value(0).value<QDBusObjectPath>().path();
    if (!answered.isEmpty() && answered != request->path())
        request->follow(answered);
    QEventLoop wait;
    QObject::connect(request, &Request::done, &wait, &QEventLoop::quit);
    const PaintingWait held;
    QtWaitNote::End end =
        QtWaitNote::waitUntil(wait, int(std::max<qint64>(1, timeout.count() - clock.elapsed())),
                              [request] { return request->arrived; });
    if (end == QtWaitNote::End::TimedOut) {
        // The desktop's question may still be up, and may outlive the
        // portal's interest in it: what happened is said once the user is
        // back at the program. An answer that comes meanwhile still counts.
        qCWarning(captureLog) << "no answer from the portal in" << clock.elapsed() << "ms";
        QtWaitNote::untilUserIsBack(wait, int(focusBound.count()),
                                    [request] { return request->arrived; });
        // The dialog that goes and its answer come together: the focus may
        // be back a moment before the answer.
        if (!request->arrived)
            QtWaitNote::waitUntil(wait, AnswerAfterDialogMs,
                                  [request] { return request->arrived; });
        qCInfo(captureLog) << "after" << clock.elapsed()
                           << "ms:" << (request->arrived ? "the answer came" : "the user is back");
        if (request->arrived)
            end = QtWaitNote::End::Done;
    }
    shot.elapsedMs = clock.elapsed();
    if (end != QtWaitNote::End::Done) {
        request->abandon();
        shot.cancelled = end == QtWaitNote::End::Cancelled;
        shot.timedOut = !shot.cancelled;
        shot.failure =
            shot.cancelled
                ? QStringLiteral("cancelled after %1 ms").arg(shot.elapsedMs)
                : QStringLiteral("no answer from the portal in %1 ms").arg(shot.elapsedMs);
        qCWarning(captureLog) << "portal screenshot:" << shot.failure;
        return shot;
    }
    if (request->code != 0) {
        // The answer says only "cancelled" (1) or "other" (2); the permission
        // store says whether the desktop keeps a no for us.
        shot.refused = request->code == 1 || screenshotsRefusedByDesktop();
        shot.failure = QStringLiteral("the portal answered %1%2")
                           .arg(request->code)
                           .arg(shot.refused ? QStringLiteral(" (refused)") : QString());
        qCWarning(captureLog) << "portal screenshot:" << shot.failure << request->results;
        request->removeNamedFile();
        delete request;
        return shot;
    }
    const QString path = request->namedFile();
    shot.picture = readPictureFile(path);
    request->removeNamedFile();
    delete request;
    if (shot.picture.isNull()) {
        shot.failure = QStringLiteral("no picture in %1").arg(path);
        qCWarning(captureLog) << "portal screenshot:" << shot.failure;
    } else {
        qCInfo(captureLog) << "portal screenshot" << shot.picture.size() << "in" << shot.elapsedMs
                           << "ms";
    }
    return shot;
}

} // namespace platform

#include "portal_screenshot.moc"
