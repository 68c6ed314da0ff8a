#pragma once

#include "transport.h"

// A peer that has sent the given bytes and closed. Each receive hands out at most pieceSize
// of them, so a reply arrives cut wherever a test or a fuzzer likes, as a network may cut it;
// what is sent to the peer is dropped.
class MemoryTransport : public Transport {
public:
    explicit MemoryTransport(QByteArray incoming, qsizetype pieceSize = ReceiveSize);

    bool IsOpen() const override;
    bool StillOpen() override;
    void Send(const QByteArray &bytes) override;
    Receipt Receive(QByteArray &buffer, int waitMs) override;
    void DropPending() override;
    void StartTls() override;
    void Close() override;

private:
    QByteArray incoming_;
    qsizetype pieceSize_;
    qsizetype position_ = 0;
    bool ended_ = false; // the peer's close has been seen
    bool closed_ = false;
};
