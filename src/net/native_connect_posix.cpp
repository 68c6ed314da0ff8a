#include "native_connect.h"

#include "network_wait.h"
#include "socket_address.h"
#include "socket_errors.h"
#include "transfer_error.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

[[noreturn]] void FailWith(int error)
{
    int number = 0;
    switch (error) {
    case ECONNREFUSED:
        number = SocketErrorCode::ConnectionRefused;
        break;
    case ENETUNREACH:
        number = SocketErrorCode::NetworkUnreachable;
        break;
    case EHOSTUNREACH:
        number = SocketErrorCode::HostUnreachable;
        break;
    case ETIMEDOUT:
        number = SocketErrorCode::TimedOut;
        break;
    case ECONNRESET:
        number = SocketErrorCode::ConnectionReset;
        break;
    case EACCES:
    case EPERM:
        number = 10013;
        break;
    case EMFILE:
    case ENFILE:
        number = 10024;
        break;
    case ENOBUFS:
        number = 10055;
        break;
    case EADDRNOTAVAIL:
        number = 10049;
        break;
    case EAFNOSUPPORT:
        number = 10047;
        break;
    default:
        throw TransferError::Network(QString::fromLocal8Bit(std::strerror(error)));
    }
    throw TransferError::Network(SocketErrorMessage(number));
}

// Closes the descriptor unless it is handed on.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

} // namespace

qintptr ConnectSocket(const QHostAddress &address, quint16 port, QDeadlineTimer deadline)
{
    sockaddr_storage storage;
    const socklen_t length = socklen_t(ToSocketAddress(address, port, storage));

    Descriptor socket(::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0)
        FailWith(errno);
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr *>(&storage), length) == 0)
        return socket.Release();
    if (errno != EINPROGRESS)
        FailWith(errno);
    for (;;) {
        pollfd wanted{socket.Get(), POLLOUT, 0};
        const int ready = ::poll(&wanted, 1, SliceOf(deadline));
        if (ready < 0 && errno != EINTR)
            FailWith(errno);
        if (ready > 0) {
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                FailWith(errno);
            // A reset here means the peer took the connection and dropped it at once: the
            // reads that follow report it, as they report a reset at any later moment.
            if (error != 0 && error != ECONNRESET)
                FailWith(error);
            return socket.Release();
        }
        if (deadline.hasExpired())
            throw TransferError::Network(QStringLiteral("Connect timed out."));
        CallWaitHook();
    }
}

void CloseSocket(qintptr descriptor)
{
    ::close(static_cast<int>(descriptor));
}
