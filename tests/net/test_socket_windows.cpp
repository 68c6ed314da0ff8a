#include "test_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace TestSocket {

namespace {

void StartWinsock()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    Q_UNUSED(started);
}

// Waits until the socket can be read from (or written to): false on time-out.
bool Ready(Handle socket, bool toWrite, int timeoutMs)
{
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(SOCKET(socket), &ready);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, toWrite ? nullptr : &ready, toWrite ? &ready : nullptr, nullptr, &wait) > 0;
}

} // namespace

Handle Listen(quint16 &port)
{
    StartWinsock();
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener == INVALID_SOCKET || ::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (listener != INVALID_SOCKET)
            ::closesocket(listener);
        return None;
    }
    port = ntohs(address.sin_port);
    return Handle(listener);
}

Handle Accept(Handle listener)
{
    const SOCKET connection = ::accept(SOCKET(listener), nullptr, nullptr);
    return connection == INVALID_SOCKET ? None : Handle(connection);
}

bool WaitReadable(Handle socket, int timeoutMs)
{
    return Ready(socket, false, timeoutMs);
}

qint64 Receive(Handle socket, char *buffer, qint64 size)
{
    return ::recv(SOCKET(socket), buffer, int(qMin<qint64>(size, 1 << 30)), 0);
}

bool SendAll(Handle socket, const char *data, qint64 size)
{
    // Without blocking, so that a peer that has gone is noticed: under Wine, a blocking send of
    // more than the socket takes may not return once the peer closes. A peer that takes nothing
    // for as long as a read would wait counts as gone too.
    u_long nonBlocking = 1;
    ::ioctlsocket(SOCKET(socket), FIONBIO, &nonBlocking);
    bool sentAll = true;
    while (size > 0) {
        const int sent = ::send(SOCKET(socket), data, int(qMin<qint64>(size, 1 << 30)), 0);
        if (sent > 0) {
            data += sent;
            size -= sent;
        } else if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK || !Ready(socket, true, 10000)) {
            sentAll = false;
            break;
        }
    }
    nonBlocking = 0;
    ::ioctlsocket(SOCKET(socket), FIONBIO, &nonBlocking);
    return sentAll;
}

void ShutdownSending(Handle socket)
{
    ::shutdown(SOCKET(socket), SD_SEND);
}

void Reset(Handle socket)
{
    const linger abortive{1, 0};
    ::setsockopt(SOCKET(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abortive), sizeof abortive);
    ::closesocket(SOCKET(socket));
}

void Close(Handle socket)
{
    if (socket != None)
        ::closesocket(SOCKET(socket));
}

} // namespace TestSocket

bool TestSocket::UnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
