#include "test_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TestSocket {

Handle Listen(quint16 &port)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (listener >= 0)
            ::close(listener);
        return None;
    }
    port = ntohs(address.sin_port);
    return listener;
}

Handle Accept(Handle listener)
{
    const int connection = ::accept(int(listener), nullptr, nullptr);
    return connection < 0 ? None : connection;
}

bool WaitReadable(Handle socket, int timeoutMs)
{
    pollfd wanted{int(socket), POLLIN, 0};
    return ::poll(&wanted, 1, timeoutMs) > 0;
}

qint64 Receive(Handle socket, char *buffer, qint64 size)
{
    return ::recv(int(socket), buffer, size_t(size), 0);
}

bool SendAll(Handle socket, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t sent = ::send(int(socket), data, size_t(size), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= sent;
    }
    return true;
}

void ShutdownSending(Handle socket)
{
    ::shutdown(int(socket), SHUT_WR);
}

void Reset(Handle socket)
{
    const linger abortive{1, 0};
    ::setsockopt(int(socket), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(int(socket));
}

void Close(Handle socket)
{
    if (socket != None)
        ::close(int(socket));
}

} // namespace TestSocket

bool TestSocket::UnderWine()
{
    return false;
}
