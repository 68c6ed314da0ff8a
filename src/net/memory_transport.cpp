#include "memory_transport.h"

#include <algorithm>

MemoryTransport::MemoryTransport(QByteArray incoming, qsizetype pieceSize)
    : incoming_(std::move(incoming)), pieceSize_(std::clamp<qsizetype>(pieceSize, 1, ReceiveSize))
{
}

bool MemoryTransport::IsOpen() const
{
    return !ended_ && !closed_;
}

bool MemoryTransport::StillOpen()
{
    // Every byte has arrived already, so once none is left the close is there to see.
    if (position_ == incoming_.size())
        ended_ = true;
    return IsOpen();
}

void MemoryTransport::Send(const QByteArray &) {}

Transport::Receipt MemoryTransport::Receive(QByteArray &buffer, int)
{
    if (closed_ || position_ == incoming_.size()) {
        ended_ = true;
        return Receipt::Ended;
    }
    const qsizetype piece = std::min(pieceSize_, incoming_.size() - position_);
    buffer.append(QByteArrayView(incoming_).sliced(position_, piece));
    position_ += piece;
    return Receipt::Received;
}

void MemoryTransport::DropPending()
{
    position_ = incoming_.size();
}

// Bytes in memory read the same with or without TLS.
void MemoryTransport::StartTls() {}

void MemoryTransport::Close()
{
    closed_ = true;
}
