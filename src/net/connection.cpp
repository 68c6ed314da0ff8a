#include "connection.h"

#include "network_wait.h"
#include "transfer_error.h"

Connection::Connection(const ConnectionTarget &target, const std::optional<ProxyServer> &proxy,
                       std::unique_ptr<Transport> transport)
    : target_(target), proxy_(proxy), transport_(std::move(transport))
{
}

Connection::~Connection()
{
    Close();
}

void Connection::Send(const QByteArray &bytes)
{
    PaceWait();
    if (!IsOpen())
        throw ConnectionClosedGracefully();
    transport_->Send(bytes);
}

Connection::Receipt Connection::Receive(int waitMs)
{
    PaceWait();
    if (start_ > 0) {
        buffer_.remove(0, start_);
        start_ = 0;
    }
    const qsizetype old = buffer_.size();
    const Receipt receipt = transport_->Receive(buffer_, waitMs);
    received_ += buffer_.size() - old;
    return receipt;
}

bool Connection::ReceiveMore()
{
    switch (Receive()) {
    case Receipt::Received:
        return true;
    case Receipt::Ended:
        return false;
    case Receipt::TimedOut:
        break;
    }
    throw TransferError::Network(QStringLiteral("Read timed out."));
}

void Connection::Consume(qsizetype count, bool counted)
{
    start_ += count;
    if (start_ == buffer_.size()) {
        buffer_.resize(0);
        start_ = 0;
    }
    if (counted && OnConsumed)
        OnConsumed(count);
}

void Connection::ClearBuffer()
{
    buffer_.resize(0);
    start_ = 0;
    transport_->DropPending();
}

std::optional<QByteArray> Connection::ReadLine()
{
    qsizetype scanned = 0;
    for (;;) {
        const QByteArrayView view = Buffered();
        const qsizetype end = view.indexOf('\n', scanned);
        if (end > MaxLineLength || (end < 0 && view.size() > MaxLineLength))
            throw TransferError(QStringLiteral("Max line length exceeded."));
        if (end >= 0) {
            QByteArray line = view.first(end).toByteArray();
            if (line.endsWith('\r'))
                line.chop(1);
            Consume(end + 1);
            return line;
        }
        scanned = view.size();
        if (!ReceiveMore()) {
            Consume(scanned, false); // a line the server never finished is lost
            return std::nullopt;
        }
    }
}
