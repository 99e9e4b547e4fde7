#include "platform/instance/hand_over.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::hand_over
{

namespace
{
using Clock = std::chrono::steady_clock;

// A socket of this user's at the path, and nothing else (no link followed).
bool ourSocketFile(const QByteArray &path)
{
    struct stat st {
    };
    return ::lstat(path.constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid();
}

struct Address {
    sockaddr_un un{};
    socklen_t length = 0;
    bool abstract = false;
    int folder = -1; // held while the address names the socket through it
    Address() = default;
    Address(const Address &) = delete;
    Address &operator=(const Address &) = delete;
    ~Address()
    {
        if (folder >= 0)
            ::close(folder);
    }
};

// The socket's path where it fits a socket address; else (a long home, say)
// the same file reached through its folder's descriptor, a short path under
// /proc; else a name in the kernel's abstract namespace made from it, which
// both sides check by the peer's credentials.
void addressFor(const QByteArray &path, Address &a)
{
    a.un.sun_family = AF_UNIX;
    if (size_t(path.size()) < sizeof a.un.sun_path) {
        std::memcpy(a.un.sun_path, path.constData(), size_t(path.size()));
        a.length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()) + 1);
        return;
    }
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0) {
        a.folder = ::open(path.left(slash).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const QByteArray through =
            "/proc/self/fd/" + QByteArray::number(a.folder) + path.mid(slash);
        struct stat st {
        };
        if (a.folder >= 0 && size_t(through.size()) < sizeof a.un.sun_path &&
            ::stat(("/proc/self/fd/" + QByteArray::number(a.folder)).constData(), &st) == 0) {
            std::memcpy(a.un.sun_path, through.constData(), size_t(through.size()));
            a.length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(through.size()) + 1);
            return;
        }
    }
    const QByteArray name =
        "mipoquibbo-" + QByteArray::number(::getuid()) + '-' +
        QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(32);
    std::memcpy(a.un.sun_path + 1, name.constData(), size_t(name.size()));
    a.length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
    a.abstract = true;
}

bool peerIsUs(int fd)
{
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::getuid();
}

// Waits for the descriptor until the deadline; false when it passed.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, int(left));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}
} // namespace

bool send(const QString &socketPath, const QString &file)
{
    const QByteArray socket = QFile::encodeName(socketPath);
    const QByteArray path = QFile::encodeName(QFileInfo(file).absoluteFilePath());
    if (socket.isEmpty() || path.isEmpty() || path.size() > MaxPathBytes)
        return false;
    Address address;
    addressFor(socket, address);
    if (!address.abstract && !ourSocketFile(socket))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    bool done = false;
    // A full queue of callers answers EAGAIN at once: try again until the deadline.
    int connected = -1;
    while ((connected = ::connect(fd, reinterpret_cast<const sockaddr *>(&address.un),
                                  address.length)) != 0 &&
           errno == EAGAIN && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if ((connected == 0 || (errno == EINPROGRESS && waitFor(fd, POLLOUT, deadline))) &&
        peerIsUs(fd)) {
        const uint32_t size = htonl(uint32_t(path.size()));
        QByteArray message(reinterpret_cast<const char *>(&size), 4);
        message += path;
        qsizetype sent = 0;
        while (sent < message.size() && waitFor(fd, POLLOUT, deadline)) {
            const ssize_t n =
                ::send(fd, message.constData() + sent, size_t(message.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        char answer[3] = {};
        size_t got = 0;
        while (sent == message.size() && got < 3 && waitFor(fd, POLLIN, deadline)) {
            const ssize_t n = ::recv(fd, answer + got, 3 - got, 0);
            if (n <= 0)
                break;
            got += size_t(n);
        }
        done = got == 3 && std::memcmp(answer, "ok\n", 3) == 0;
    }
    ::close(fd);
    return done;
}

struct Server::Running {
    int listener = -1;
    int wake[2] = {-1, -1};
    QByteArray socketFile; // removed at the end; empty for an abstract name
    QPointer<QObject> context;
    std::function<void(const QString &)> deliver;
    std::thread thread;

    struct Caller {
        int fd;
        Clock::time_point deadline;
        QByteArray bytes;
    };
    static constexpr size_t MaxCallers = 128;

    void serve()
    {
        std::vector<Caller> callers;
        for (;;) {
            std::vector<pollfd> fds{{wake[0], POLLIN, 0}, {listener, POLLIN, 0}};
            for (const Caller &c : callers)
                fds.push_back({c.fd, POLLIN, 0});
            // Woken by the next caller's deadline at the latest.
            int timeout = -1;
            const auto now = Clock::now();
            for (const Caller &c : callers) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(c.deadline - now).count();
                timeout = std::max(0, timeout < 0 ? int(left) : std::min(timeout, int(left)));
            }
            if (::poll(fds.data(), nfds_t(fds.size()), timeout) < 0 && errno != EINTR)
                return;
            if (fds[0].revents)
                break;
            // Callers first, by their places in fds, before the list changes.
            std::vector<Caller> kept;
            for (size_t i = 0; i < callers.size(); ++i) {
                Caller &c = callers[i];
                if (fds[i + 2].revents && !take(c)) {
                    ::close(c.fd);
                    continue;
                }
                if (Clock::now() >= c.deadline) {
                    ::close(c.fd); // too slow: whatever it sent is dropped
                    continue;
                }
                kept.push_back(std::move(c));
            }
            callers = std::move(kept);
            if (fds[1].revents)
                accept(callers);
        }
        for (const Caller &c : callers)
            ::close(c.fd);
    }

    void accept(std::vector<Caller> &callers)
    {
        for (;;) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                return;
            // Only this user's own programs are listened to.
            if (!peerIsUs(fd)) {
                ::close(fd);
                continue;
            }
            // So many at once, the oldest let go first: a flood of callers
            // that say nothing cannot keep the next real one out.
            if (callers.size() >= MaxCallers) {
                ::close(callers.front().fd);
                callers.erase(callers.begin());
            }
            callers.push_back({fd, Clock::now() + std::chrono::milliseconds(DeadlineMs), {}});
        }
    }

    // Reads what the caller sent; false once it is done with (answered, or
    // broken off, or over the limit).
    bool take(Caller &c)
    {
        char buffer[4096];
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return n < 0 && (errno == EAGAIN || errno == EINTR);
        c.bytes.append(buffer, qsizetype(n));
        if (c.bytes.size() < 4)
            return true;
        uint32_t size = 0;
        std::memcpy(&size, c.bytes.constData(), 4);
        size = ntohl(size);
        if (size == 0 || size > uint32_t(MaxPathBytes) || c.bytes.size() > 4 + qsizetype(size))
            return false;
        if (c.bytes.size() < 4 + qsizetype(size))
            return true;
        ::send(c.fd, "ok\n", 3, MSG_NOSIGNAL);
        const QString path = QFile::decodeName(c.bytes.mid(4));
        QMetaObject::invokeMethod(
            context.data(),
            [deliver = deliver, path, context = context] {
                if (context)
                    deliver(path);
            },
            Qt::QueuedConnection);
        return false;
    }
};

Server::Server() = default;

Server::~Server()
{
    if (!running_)
        return;
    if (running_->thread.joinable()) {
        const char stop = 1;
        if (::write(running_->wake[1], &stop, 1) != 1) {
        }
        running_->thread.join();
    }
    ::close(running_->listener);
    for (const int fd : running_->wake)
        ::close(fd);
    if (!running_->socketFile.isEmpty())
        ::unlink(running_->socketFile.constData());
}

bool Server::listen(const QString &socketPath, QObject *context,
                    std::function<void(const QString &)> deliver)
{
    if (running_ || !context)
        return false;
    const QByteArray path = QFile::encodeName(socketPath);
    if (path.isEmpty())
        return false;
    Address address;
    addressFor(path, address);
    if (!address.abstract) {
        // A socket left by a copy that ended without cleaning up is ours to
        // replace; anything else there is left alone, and files are not taken.
        struct stat st {
        };
        if (::lstat(path.constData(), &st) == 0) {
            if (!ourSocketFile(path))
                return false;
            ::unlink(path.constData());
        }
    }
    auto r = std::make_unique<Running>();
    r->listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const mode_t old = ::umask(077);
    const bool bound =
        r->listener >= 0 &&
        ::bind(r->listener, reinterpret_cast<const sockaddr *>(&address.un), address.length) == 0;
    ::umask(old);
    if (!bound || ::listen(r->listener, 64) != 0 || ::pipe2(r->wake, O_CLOEXEC) != 0) {
        if (r->listener >= 0)
            ::close(r->listener);
        if (bound && !address.abstract)
            ::unlink(path.constData());
        return false;
    }
    if (!address.abstract)
        r->socketFile = path;
    r->context = context;
    r->deliver = std::move(deliver);
    running_ = std::move(r);
    running_->thread = std::thread([running = running_.get()] { running->serve(); });
    return true;
}

} // namespace platform::hand_over
