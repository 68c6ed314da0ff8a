#pragma once

#include "address.h"
#include "proxy_rules.h"
#include "transport.h"

#include <QList>
#include <QSslCertificate>
#include <memory>
#include <optional>

class QTcpSocket;

// Adds CA certificates that TLS connections of this process trust besides the system's
// store. Meant for tests that serve TLS with a certificate made on the spot.
void AddTrustedCaCertificates(const QList<QSslCertificate> &certificates);

// A TCP or TLS socket in blocking use (every wait in slices, see network_wait.h).
class SocketTransport : public Transport {
public:
    struct Timeouts {
        int connectMs = 30000; // 0 or less: no limit
        int readMs = 60000;    // silence allowed while bytes are awaited; 0 or less: no limit
    };

    // Through a proxy, the socket goes to the proxy. For a TLS target it is then a plain
    // connection to the proxy until StartTls, once the caller has asked the proxy for a tunnel
    // (CONNECT); any other target is ready to use.
    SocketTransport(const ConnectionTarget &target, const std::optional<ProxyServer> &proxy,
                    const Timeouts &timeouts);
    ~SocketTransport() override;

    bool IsOpen() const override;
    bool StillOpen() override;
    void Send(const QByteArray &bytes) override;
    Receipt Receive(QByteArray &buffer, int waitMs) override;
    void DropPending() override;
    void StartTls() override;
    void Close() override;

private:
    void Open();
    // Takes over a connected socket of the system's.
    void Adopt(qintptr descriptor);
    [[noreturn]] void FailFromSocket();

    ConnectionTarget target_;
    std::optional<ProxyServer> proxy_;
    Timeouts timeouts_;
    std::unique_ptr<QTcpSocket> socket_;
};
