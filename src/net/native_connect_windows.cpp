#include "native_connect.h"

#include "network_wait.h"
#include "socket_address.h"
#include "socket_errors.h"
#include "transfer_error.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <utility>

namespace {

// Winsock's numbers are the ones the messages use, so they pass through unchanged.
[[noreturn]] void FailWith(int error)
{
    throw TransferError::Network(SocketErrorMessage(error));
}

// Qt starts Winsock only once a socket object of its own exists; the connect comes first.
void StartWinsock()
{
    static const int started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0)
        FailWith(started);
}

// Closes the socket unless it is handed on.
class Descriptor {
public:
    explicit Descriptor(SOCKET socket) : socket_(socket) {}
    ~Descriptor()
    {
        if (socket_ != INVALID_SOCKET)
            ::closesocket(socket_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    SOCKET Get() const { return socket_; }
    qintptr Release() { return qintptr(std::exchange(socket_, INVALID_SOCKET)); }

private:
    SOCKET socket_;
};

} // namespace

qintptr ConnectSocket(const QHostAddress &address, quint16 port, QDeadlineTimer deadline)
{
    StartWinsock();
    sockaddr_storage storage;
    const int length = ToSocketAddress(address, port, storage);

    Descriptor socket(::WSASocketW(storage.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                   WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
    if (socket.Get() == INVALID_SOCKET)
        FailWith(WSAGetLastError());
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket.Get(), FIONBIO, &nonBlocking) != 0)
        FailWith(WSAGetLastError());
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr *>(&storage), length) == 0)
        return socket.Release();
    if (WSAGetLastError() != WSAEWOULDBLOCK)
        FailWith(WSAGetLastError());
    for (;;) {
        // select, not WSAPoll: WSAPoll does not report a refused connect on every Windows.
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket.Get(), &writable);
        FD_SET(socket.Get(), &failed);
        const int slice = SliceOf(deadline);
        timeval wait{slice / 1000, (slice % 1000) * 1000};
        const int ready = ::select(0, nullptr, &writable, &failed, &wait);
        if (ready == SOCKET_ERROR)
            FailWith(WSAGetLastError());
        if (ready > 0) {
            int error = 0;
            int size = sizeof error;
            if (::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size) != 0)
                FailWith(WSAGetLastError());
            // A reset here means the peer took the connection and dropped it at once: the
            // reads that follow report it, as they report a reset at any later moment.
            if (error != 0 && error != WSAECONNRESET)
                FailWith(error);
            if (FD_ISSET(socket.Get(), &failed))
                FailWith(WSAECONNREFUSED);
            return socket.Release();
        }
        if (deadline.hasExpired())
            throw TransferError::Network(QStringLiteral("Connect timed out."));
        CallWaitHook();
    }
}

void CloseSocket(qintptr descriptor)
{
    ::closesocket(SOCKET(descriptor));
}
