#pragma once
// Files handed from a later start to the running copy, over a local socket:
// a length and the path, answered "ok". The running copy serves on a thread
// of its own with a short deadline per caller, so no caller can hold up its
// windows, and hands only complete paths to its own thread.

#include <QString>

#include <functional>
#include <memory>

class QObject;

namespace platform::hand_over
{
// The longest path that is handed over (the kernel's own limit on one).
constexpr int MaxPathBytes = 4096;
// How long one caller may take, from its connection to its last byte.
constexpr int DeadlineMs = 1000;

// Sends the file's absolute path to the copy listening at the socket; false
// when none answers, or one that is not this user's.
bool send(const QString &socketPath, const QString &file);

class Server
{
public:
    Server();
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;
    // Listens at the socket (a socket of ours left there is replaced; anything
    // else there is left alone and nothing is served). Each complete path goes
    // to deliver, run by the event loop of context's thread.
    bool listen(const QString &socketPath, QObject *context,
                std::function<void(const QString &)> deliver);

private:
    struct Running;
    std::unique_ptr<Running> running_;
};
} // namespace platform::hand_over
