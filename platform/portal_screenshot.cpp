#include "platform/portal_screenshot.h"

#include "platform/linux_services.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <atomic>

#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

bool isWaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE") == QStringLiteral("wayland");
}

namespace
{
const QString Portal = QStringLiteral("org.freedesktop.portal.Desktop");

// Receives the request's one Response signal.
class Response : public QObject
{
    Q_OBJECT
public:
    bool arrived = false;
    uint code = 2;
    QVariantMap results;

public slots:
    void take(uint response, const QVariantMap &answer)
    {
        arrived = true;
        code = response;
        results = answer;
        emit done();
    }

signals:
    void done();
};

// The file the portal named, when it was written for this request and is ours.
bool writtenForUs(const QString &path, qint64 sinceSeconds)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_uid == ::geteuid() && st.st_mtime >= sinceSeconds;
}
} // namespace

PortalShot portalScreenshot(std::chrono::milliseconds timeout)
{
    PortalShot shot;
    QElapsedTimer clock;
    clock.start();
    const qint64 since = ::time(nullptr) - 1;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        shot.failure = QStringLiteral("no session bus");
        return shot;
    }
    // The request's object path is known before the call, so the answer cannot
    // come before we listen for it.
    static std::atomic<int> serial{0};
    const QString token =
        QStringLiteral("mipoquibbo%1_%2").arg(::getpid()).arg(serial.fetch_add(1));
    const QString sender = bus.baseService().mid(1).replace(u'.', u'_');
    QString requestPath =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    Response response;
    const auto listen = [&](const QString &path, bool on) {
        const char *slot = SLOT(take(uint, QVariantMap));
        return on ? bus.connect(Portal, path, QStringLiteral("org.freedesktop.portal.Request"),
                                QStringLiteral("Response"), &response, slot)
                  : bus.disconnect(Portal, path, QStringLiteral("org.freedesktop.portal.Request"),
                                   QStringLiteral("Response"), &response, slot);
    };
    listen(requestPath, true);

    QDBusMessage call = QDBusMessage::createMethodCall(
        Portal, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
    call << QString()
         << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("interactive"), false}};
    const QDBusMessage reply = bus.call(call, QDBus::Block, int(timeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        listen(requestPath, false);
        shot.failure = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        return shot;
    }
    // Older portals make up their own path.
    const QString answered = reply.arguments().value(0).value<QDBusObjectPath>().path();
    if (!answered.isEmpty() && answered != requestPath) {
        listen(requestPath, false);
        requestPath = answered;
        listen(requestPath, true);
    }
    if (!response.arrived) {
        QEventLoop wait;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &wait, &QEventLoop::quit);
        QObject::connect(&response, &Response::done, &wait, &QEventLoop::quit);
        timer.start(std::max<qint64>(1, timeout.count() - clock.elapsed()));
        // Only the bus's traffic: no handler of this program runs meanwhile.
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    }
    listen(requestPath, false);
    if (!response.arrived) {
        shot.failure = QStringLiteral("no answer from the portal");
        return shot;
    }
    if (response.code != 0) {
        shot.failure = QStringLiteral("the portal refused (%1)").arg(response.code);
        return shot;
    }
    const QUrl uri(response.results.value(QStringLiteral("uri")).toString());
    const QString path = uri.toLocalFile();
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        shot.failure = QStringLiteral("no picture at %1").arg(uri.toString());
        return shot;
    }
    shot.picture = QtPictureLoader::decode(file);
    file.close();
    if (writtenForUs(path, since))
        QFile::remove(path);
    if (shot.picture.isNull())
        shot.failure = QStringLiteral("no picture in %1").arg(path);
    shot.elapsedMs = clock.elapsed();
    return shot;
}

} // namespace platform

#include "portal_screenshot.moc"
