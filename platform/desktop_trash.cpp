#include "platform/desktop_trash.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

namespace
{
QByteArray enc(const QString &path)
{
    return QFile::encodeName(path);
}

bool statOf(const QString &path, struct stat &st, bool follow = true)
{
    return (follow ? ::stat(enc(path).constData(), &st) : ::lstat(enc(path).constData(), &st)) == 0;
}

// A folder of ours that is no link: made when missing, with the mode given.
bool ownFolder(const QString &path, mode_t mode)
{
    ::mkdir(enc(path).constData(), mode);
    struct stat st {
    };
    return statOf(path, st, false) && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           ::access(enc(path).constData(), W_OK | X_OK) == 0;
}

// The top folder of the file system the path lies on.
QString topOf(const QString &path, dev_t device)
{
    QString top = QFileInfo(path).absolutePath();
    for (;;) {
        const QString up = QFileInfo(top).absolutePath();
        struct stat st {
        };
        if (up == top || !statOf(up, st) || st.st_dev != device)
            return top;
        top = up;
    }
}

// A trash folder with files/ and info/ in it that we may write.
bool usableTrash(const QString &trash)
{
    return ownFolder(trash, 0700) && ownFolder(trash + QStringLiteral("/files"), 0700) &&
           ownFolder(trash + QStringLiteral("/info"), 0700);
}

// The trash for a file on that device: the home trash on the home's file
// system; else $top/.Trash/$uid (a shared sticky folder, no link), else
// $top/.Trash-$uid.
QString trashFor(const QString &path, dev_t device, QString &top)
{
    const QString home = FreedesktopTrash::homeTrash();
    QDir().mkpath(QFileInfo(home).absolutePath());
    struct stat hs {
    };
    if (statOf(QFileInfo(home).absolutePath(), hs) && hs.st_dev == device) {
        top.clear();
        return usableTrash(home) ? home : QString();
    }
    top = topOf(path, device);
    const QString uid = QString::number(::geteuid());
    const QString shared = top + QStringLiteral("/.Trash");
    struct stat ss {
    };
    if (statOf(shared, ss, false) && S_ISDIR(ss.st_mode) && (ss.st_mode & S_ISVTX) &&
        usableTrash(shared + u'/' + uid))
        return shared + u'/' + uid;
    const QString own = top + QStringLiteral("/.Trash-") + uid;
    return usableTrash(own) ? own : QString();
}
} // namespace

QString FreedesktopTrash::homeTrash()
{
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/Trash");
}

bool FreedesktopTrash::keepCopy(const QString &path)
{
    const QString file = QFileInfo(path).canonicalFilePath();
    struct stat st {
    };
    if (file.isEmpty() || !statOf(file, st) || !S_ISREG(st.st_mode))
        return false;
    QString top;
    const QString trash = trashFor(file, st.st_dev, top);
    if (trash.isEmpty())
        return false;
    // The entry's info is made first and exclusively: its name is ours then.
    const QString base = QFileInfo(file).fileName();
    const QString recorded = top.isEmpty() ? file : QDir(top).relativeFilePath(file);
    const QByteArray info =
        "[Trash Info]\nPath=" + QUrl::toPercentEncoding(recorded, "/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() +
        "\n";
    for (int n = 1; n < 10000; ++n) {
        const QString name = n == 1 ? base : QStringLiteral("%1 %2").arg(base).arg(n);
        const QString infoPath =
            trash + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo");
        const int fd =
            ::open(enc(infoPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const bool written = ::write(fd, info.constData(), size_t(info.size())) == info.size();
        ::close(fd);
        const QString kept = trash + QStringLiteral("/files/") + name;
        // An entry whose info went missing still holds its name in files/:
        // the next name, as for any taken one.
        struct stat ks {
        };
        if (written && statOf(kept, ks, false)) {
            QFile::remove(infoPath);
            continue;
        }
        // The same file system: the old content keeps its place on disk, and
        // the save's rename gives the name to the new one. Else a copy.
        const bool stored = written && (::link(enc(file).constData(), enc(kept).constData()) == 0 ||
                                        QFile::copy(file, kept));
        if (!stored) {
            QFile::remove(infoPath);
            return false;
        }
        last_.insert(path, {infoPath, kept});
        return true;
    }
    return false;
}

void FreedesktopTrash::takeBack(const QString &path)
{
    const auto entry = last_.constFind(path);
    if (entry == last_.constEnd())
        return;
    QFile::remove(entry->kept);
    QFile::remove(entry->info);
    last_.erase(entry);
}

} // namespace platform
