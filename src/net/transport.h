#pragma once

#include <QByteArray>

// The byte stream under a Connection: a socket to the server or its proxy (socket_transport.h),
// or bytes held in memory (memory_transport.h), which lets the reading of replies run without
// a network. Every failure is a TransferError.
class Transport {
public:
    static constexpr qsizetype ReceiveSize = 32768;

    enum class Receipt { Received, Ended, TimedOut };

    virtual ~Transport() = default;

    virtual bool IsOpen() const = 0;
    // Looks for a close by the peer without waiting.
    virtual bool StillOpen() = 0;
    // Sends every byte; the caller has made sure the stream is open.
    virtual void Send(const QByteArray &bytes) = 0;
    // Waits at most waitMs (the read time-out when negative) for bytes, then appends at most
    // ReceiveSize of them to the buffer. Errors other than an end are raised.
    virtual Receipt Receive(QByteArray &buffer, int waitMs) = 0;
    // Drops bytes that arrived and were not yet received.
    virtual void DropPending() = 0;
    // The TLS handshake with the target host, over a tunnel through the proxy.
    virtual void StartTls() = 0;
    // Shuts the sending direction and closes.
    virtual void Close() = 0;
};
