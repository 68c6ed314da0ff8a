#pragma once

#include "address.h"
#include "proxy_rules.h"
#include "transport.h"

#include <QByteArray>
#include <functional>
#include <memory>
#include <optional>

// One open connection to a target, directly or through a proxy, over its transport, with the
// receive buffer that holds bytes received and not yet consumed. Every failure is a
// TransferError.
class Connection {
public:
    static constexpr qsizetype MaxLineLength = 16384;

    using Receipt = Transport::Receipt;

    Connection(const ConnectionTarget &target, const std::optional<ProxyServer> &proxy,
               std::unique_ptr<Transport> transport);
    ~Connection();

    const ConnectionTarget &Target() const { return target_; }
    const std::optional<ProxyServer> &Proxy() const { return proxy_; }
    bool NeedsTunnel() const { return proxy_ && target_.tls; }
    // The TLS handshake with the target host, over the tunnel.
    void StartTls() { transport_->StartTls(); }
    bool IsOpen() const { return transport_->IsOpen(); }
    // Looks for a close by the server without waiting.
    bool StillOpen() { return transport_->StillOpen(); }

    void Send(const QByteArray &bytes);

    // One receive of at most Transport::ReceiveSize bytes, appended to the buffer. Waits at
    // most waitMs (the read time-out when negative). Errors other than an end are raised.
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

    void Close() { transport_->Close(); }

private:
    ConnectionTarget target_;
    std::optional<ProxyServer> proxy_;
    std::unique_ptr<Transport> transport_;
    QByteArray buffer_;
    qsizetype start_ = 0;
    qint64 received_ = 0;
};
