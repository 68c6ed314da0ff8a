#pragma once

#include <QHostAddress>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>

// Fills storage with an IP address and port as the system's socket calls take them, for the
// connect of native_connect_*.cpp; returns the length of what it filled.
inline int ToSocketAddress(const QHostAddress &address, quint16 port, sockaddr_storage &storage)
{
    storage = {};
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto &v6 = reinterpret_cast<sockaddr_in6 &>(storage);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6.sin6_addr, &bytes, sizeof v6.sin6_addr);
        return sizeof v6;
    }
    auto &v4 = reinterpret_cast<sockaddr_in &>(storage);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    v4.sin_addr.s_addr = htonl(address.toIPv4Address());
    return sizeof v4;
}
