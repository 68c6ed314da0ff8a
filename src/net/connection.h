#pragma once

#include "address.h"
#include "proxy_rules.h"

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

// Adds CA certificates that TLS connections of this process trust besides the system's
// store. Meant for tests that serve TLS with a certificate made on the spot.
void AddTrustedCaCertificates(const QList<QSslCertificate> &certificates);

// One open TCP or TLS connection in blocking use (every wait in slices, see network_wait.h), with the receive
// buffer that holds bytes received from the socket and not yet consumed. Every failure is a TransferError.
class Connection {
public:
    static constexpr qsizetype ReceiveSize = 32768;
    static constexpr qsizetype MaxLineLength = 16384;

    struct Timeouts {
        int connectMs = 30000; // 0 or less: no limit
        int readMs = 60000;    // silence allowed while bytes are awaited; 0 or less: no limit
    };

    // Through a proxy, the connection goes to the proxy. For a TLS target it is then a plain
    // connection to the proxy until the caller has asked it for a tunnel (CONNECT) and
    // started TLS; any other target is ready to use.
    Connection(const ConnectionTarget &target, const std::optional<ProxyServer> &proxy,
               const Timeouts &timeouts);
    ~Connection();

    const ConnectionTarget &Target() const { return target_; }
    const std::optional<ProxyServer> &Proxy() const { return proxy_; }
    bool NeedsTunnel() const { return proxy_ && target_.tls; }
    // The TLS handshake with the target host, over the tunnel.
    void StartTls();
    bool IsOpen() const;
    // Looks for a close by the server without waiting.
    bool StillOpen();

    void Send(const QByteArray &bytes);

    enum class Receipt { Received, Ended, TimedOut };
    // One socket receive of at most ReceiveSize bytes, appended to the buffer. Waits at most
    // waitMs (the read time-out when negative). Errors other than an end are raised.
    Receipt Receive(int waitMs = -1);
    // Receive where silence beyond the read time-out is an error; false at the end.
    bool ReceiveMore();
    // Bytes received over the connection's life.
    qint64 Received() const { return received_; }

    QByteArrayView Buffered() const { return QByteArrayView(buffer_).sliced(start_); }
    // Removes bytes from the buffer; they count as read progress unless dropped uncounted.
    void Consume(qsizetype count, bool counted = true);
    void ClearBuffer();

    // A line up to LF, a CR before it dropped; nullopt when the connection ends first.
    std::optional<QByteArray> ReadLine();

    // Called with the size of every counted removal from the buffer.
    std::function<void(qint64)> OnConsumed;

    // Shuts the sending direction and closes the socket.
    void Close();

private:
    void Open();
    // Takes over a connected socket of the system's.
    void Adopt(qintptr descriptor);
    [[noreturn]] void FailFromSocket();

    ConnectionTarget target_;
    std::optional<ProxyServer> proxy_;
    Timeouts timeouts_;
    std::unique_ptr<QTcpSocket> socket_;
    QByteArray buffer_;
    qsizetype start_ = 0;
    qint64 received_ = 0;
};
