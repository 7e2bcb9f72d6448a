// SPDX-License-Identifier: MIT
#include "SingleInstance.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace {

const QByteArray RestoreRequest = QByteArrayLiteral("restore\n");
const QByteArray RestoreAnswer = QByteArrayLiteral("ok\n");

// An abstract-namespace address: a leading zero byte, then the name, without a terminator.
socklen_t abstractAddress(const QString& name, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const QByteArray bytes = name.toUtf8().left(static_cast<qsizetype>(sizeof address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, bytes.constData(), static_cast<size_t>(bytes.size()));
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(bytes.size()));
}

// Waits for the events on one descriptor, within what is left of the time; false on time-out or error.
bool waitFor(int fd, short events, const QElapsedTimer& timer, int timeoutMs)
{
    for (;;) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0) {
            return false;
        }
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready > 0) {
            return (entry.revents & events) != 0;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

class TFd
{
public:
    explicit TFd(int fd)
        : m_fd(fd)
    {
    }
    ~TFd()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

} // namespace

TSingleInstance::TSingleInstance(QObject* parent)
    : QObject(parent)
{
}

TSingleInstance::~TSingleInstance()
{
    while (!m_clients.empty()) {
        dropClient(m_clients.begin()->first);
    }
    m_listenNotifier.reset();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
    }
}

QString TSingleInstance::serverName(const QString& sectionName)
{
    return sectionName + QLatin1Char('-') + QString::number(::getuid());
}

bool TSingleInstance::askRunningInstance(const QString& name, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    TFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.get() < 0) {
        return false;
    }
    sockaddr_un address;
    const socklen_t length = abstractAddress(name, address);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        // A full backlog means a live but busy first instance; nobody listening means there is none.
        if (errno != EAGAIN && errno != EINPROGRESS) {
            return false;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (!waitFor(socket.get(), POLLOUT, timer, timeoutMs)
            || ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            return false;
        }
    }
    qsizetype sent = 0;
    while (sent < RestoreRequest.size()) {
        const ssize_t n =
            ::send(socket.get(), RestoreRequest.constData() + sent, size_t(RestoreRequest.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN && waitFor(socket.get(), POLLOUT, timer, timeoutMs)) {
            continue;
        } else {
            break;
        }
    }
    // The answer tells that the first instance is alive and has the request; a peer that accepted but never
    // answers still holds the name, so this start ends all the same.
    if (waitFor(socket.get(), POLLIN, timer, timeoutMs)) {
        char answer[16];
        [[maybe_unused]] const ssize_t n = ::recv(socket.get(), answer, sizeof answer, 0);
    }
    return true;
}

bool TSingleInstance::CheckSingleInstance(const QString& sectionName, int timeoutMs)
{
    const QString name = serverName(sectionName);
    if (askRunningInstance(name, timeoutMs)) {
        return false;
    }
    if (!listen(name)) {
        // Two starts at the same moment: the other one got the name first.
        m_failed = !askRunningInstance(name, timeoutMs);
        return false;
    }
    return true;
}

bool TSingleInstance::listen(const QString& name)
{
    TFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.get() < 0) {
        return false;
    }
    sockaddr_un address;
    const socklen_t length = abstractAddress(name, address);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0
        || ::listen(socket.get(), 16) != 0) {
        return false;
    }
    m_listenFd = socket.release();
    m_listenNotifier = std::make_unique<QSocketNotifier>(m_listenFd, QSocketNotifier::Read);
    connect(m_listenNotifier.get(), &QSocketNotifier::activated, this, &TSingleInstance::acceptConnections);
    return true;
}

void TSingleInstance::acceptConnections()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // EAGAIN: none left; anything else: the next wake-up tries again
        }
        TClient& client = m_clients[fd];
        client.notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(client.notifier.get(), &QSocketNotifier::activated, this, [this, fd] { readFromClient(fd); });
    }
}

void TSingleInstance::readFromClient(int fd)
{
    const auto found = m_clients.find(fd);
    if (found == m_clients.end()) {
        return;
    }
    TClient& client = found->second;
    char buffer[64];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (n > 0) {
        client.received.append(buffer, n);
        // Only a full request line counts; anything else on the socket is ignored.
        if (client.received.size() < RestoreRequest.size() && !client.received.contains('\n')) {
            return;
        }
        if (client.received == RestoreRequest) {
            [[maybe_unused]] const ssize_t sent =
                ::send(fd, RestoreAnswer.constData(), size_t(RestoreAnswer.size()), MSG_NOSIGNAL);
            dropClient(fd);
            emit restoreRequested();
            return;
        }
    }
    dropClient(fd); // end of stream, an error or something that is not a request
}

void TSingleInstance::dropClient(int fd)
{
    const auto found = m_clients.find(fd);
    if (found == m_clients.end()) {
        return;
    }
    found->second.notifier.reset(); // before the descriptor goes, so the loop never watches a closed one
    ::close(fd);
    m_clients.erase(found);
}
