#include "platform/instance/lock_file_instance.h"

#include "platform/files/file_names.h"
#include "platform/x11/x11.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

namespace
{
QString sanitized(QString s)
{
    for (QChar &c : s)
        if (!c.isLetterOrNumber() && c != u'.' && c != u'-')
            c = u'_';
    return s;
}

// A folder only this user can use: owned by us, a real folder, mode 0700.
bool isPrivateFolder(const QString &path)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}
} // namespace

namespace
{
// The display as its server knows it: ":93" and ":93.0" are the same one.
QString canonicalDisplay()
{
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("none"));
    char *host = nullptr;
    int number = 0, screen = 0;
    if (!xcb_parse_display(display.constData(), &host, &number, &screen))
        return QString::fromLocal8Bit(display);
    const std::unique_ptr<char, x11::FreeReply> owned(host);
    QString name = QString::fromLocal8Bit(host);
    if (name == QStringLiteral("unix"))
        name.clear();
    return name + u':' + QString::number(number);
}
} // namespace

QString LockFileInstance::lockPath()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !isPrivateFolder(folder)) {
        folder = QDir::homePath() + QStringLiteral("/.cache/mipoquibbo");
        QDir().mkpath(QDir::homePath() + QStringLiteral("/.cache"));
        const QByteArray path = QFile::encodeName(folder);
        ::mkdir(path.constData(), 0700);
        // Made private through its own handle: a link planted there is never followed.
        const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return {};
        struct stat st {
        };
        if (::fstat(fd, &st) == 0 && st.st_uid == ::getuid())
            ::fchmod(fd, 0700);
        ::close(fd);
        if (!isPrivateFolder(folder))
            return {};
    }
    return folder + QStringLiteral("/mipoquibbo-") + sanitized(canonicalDisplay()) +
           QStringLiteral(".lock");
}

QString LockFileInstance::socketPath()
{
    const QString lock = lockPath();
    return lock.isEmpty() ? QString() : lock.chopped(5) + QStringLiteral(".sock");
}

LockFileInstance::~LockFileInstance()
{
    server_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

bool LockFileInstance::handOver(const QString &file)
{
    return hand_over::send(socketPath(), file);
}

void LockFileInstance::acceptHandOvers(std::function<void(const QString &)> open)
{
    if (fd_ < 0 || !QCoreApplication::instance())
        return;
    server_ = std::make_unique<hand_over::Server>();
    if (!server_->listen(socketPath(), QCoreApplication::instance(), std::move(open)))
        server_.reset();
}

bool LockFileInstance::previousInstance()
{
    if (fd_ >= 0)
        return false;
    const QString path = lockPath();
    if (path.isEmpty())
        return false; // no safe place: never refuse to start
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        fd_ = fd;
        return false;
    }
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

} // namespace platform
