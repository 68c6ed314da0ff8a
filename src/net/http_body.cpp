// Body framing and read progress of HttpClient.
#include "http_client.h"

#include "connection.h"
#include "text.h"

#include <limits>

namespace {

void Presize(ByteSink &sink, qint64 length)
{
    const qint64 position = sink.Position();
    if (length > std::numeric_limits<qint64>::max() - position)
        throw TransferError(QStringLiteral("Data is too large for stream"));
    sink.SetSize(position + length);
}

void CutBackToPosition(ByteSink &sink)
{
    if (sink.Size() > sink.Position())
        sink.SetSize(sink.Position());
}

// A chunk-size line: one or more hexadecimal digits up to any ';'. Anything else cannot be
// told from a cut-short body, so it fails like one rather than passing as the last chunk.
qint64 ChunkSize(const QByteArray &line)
{
    const qsizetype semicolon = line.indexOf(';');
    const QString digits = TrimControls(LineText(semicolon >= 0 ? line.left(semicolon) : line));
    if (digits.isEmpty())
        throw ConnectionClosedGracefully();
    for (QChar c : digits) {
        if (c.unicode() >= 0x80 || !isxdigit(c.toLatin1()))
            throw ConnectionClosedGracefully();
    }
    bool ok = false;
    const qint64 size = digits.toLongLong(&ok, 16);
    if (!ok)
        throw TransferError(QStringLiteral("Data is too large for stream"));
    return size;
}

} // namespace

template <typename Body>
void HttpClient::WithReadUnit(qint64 workCountMax, Body body)
{
    BeginWork(wmRead, workCountMax);
    try {
        body();
    } catch (...) {
        try {
            EndWork(wmRead);
        } catch (...) {
            // The first failure is the one Get reports.
        }
        throw;
    }
    EndWork(wmRead);
}

void HttpClient::BeginWork(TWorkMode mode, qint64 workCountMax)
{
    Counter &counter = counters_[mode];
    if (++counter.level != 1)
        return;
    counter.count = 0;
    if (!OnWorkBegin)
        return;
    try {
        OnWorkBegin(*this, mode, workCountMax);
    } catch (...) {
        --counter.level;
        throw;
    }
}

void HttpClient::DoWork(TWorkMode mode, qint64 count)
{
    Counter &counter = counters_[mode];
    counter.count += count;
    if (counter.level >= 1 && OnWork)
        OnWork(*this, mode, counter.count);
}

void HttpClient::EndWork(TWorkMode mode)
{
    Counter &counter = counters_[mode];
    const bool outermost = counter.level == 1;
    --counter.level;
    if (outermost && OnWorkEnd)
        OnWorkEnd(*this, mode);
}

void HttpClient::ReadBody(ByteSink *sink, BodyUse use)
{
    const int status = reply_.StatusCode();
    const bool chunked = reply_.Chunked();
    const std::optional<qint64> length = reply_.ContentLength();
    if (!chunked && length && *length <= 0)
        return;
    if ((status >= 100 && status <= 199) || status == 204 || status == 304)
        return;
    // A redirect's body is read only when one shows up soon.
    if (status >= 300 && status <= 399 && connection_->Buffered().isEmpty() &&
        connection_->Receive(5000) != Connection::Receipt::Received)
        return;

    if (chunked)
        WithReadUnit(0, [&] { ReadChunked(sink); });
    else if (length)
        WithReadUnit(*length, [&] { ReadKnownLength(sink, *length); });
    else if (reply_.MediaType().startsWith(QLatin1String("multipart/")))
        WithReadUnit(0, [&] { ReadMultipart(sink); });
    else
        WithReadUnit(0, [&] { ReadUntilClose(sink, use != BodyUse::DiscardRedirect); });
}

void HttpClient::ReadBodyAside(BodyUse use)
{
    try {
        ReadBody(nullptr, use);
    } catch (const ConnectionClosedGracefully &) {
        connection_->Close();
    } catch (...) {
        connection_->Close();
        throw;
    }
}

void HttpClient::ReadKnownLength(ByteSink *sink, qint64 length)
{
    if (sink)
        Presize(*sink, length);
    try {
        qint64 remaining = length;
        while (remaining > 0) {
            if (connection_->Buffered().isEmpty() && !connection_->ReceiveMore())
                throw ConnectionClosedGracefully();
            const QByteArrayView piece =
                connection_->Buffered().first(std::min(connection_->Buffered().size(), remaining));
            if (sink)
                sink->Write(piece);
            remaining -= piece.size();
            connection_->Consume(piece.size());
        }
    } catch (...) {
        if (sink) {
            try {
                CutBackToPosition(*sink);
            } catch (...) {
                // The read's own failure is the one to report.
            }
        }
        throw;
    }
    if (sink)
        CutBackToPosition(*sink);
}

void HttpClient::ReadChunked(ByteSink *sink)
{
    const auto readLine = [this] {
        std::optional<QByteArray> line = connection_->ReadLine();
        if (!line)
            throw ConnectionClosedGracefully();
        return *line;
    };
    for (qint64 size = ChunkSize(readLine()); size != 0; size = ChunkSize(readLine())) {
        ReadKnownLength(sink, size);
        // The line end after the data; anything before it means the size was wrong.
        if (!readLine().isEmpty())
            throw ConnectionClosedGracefully();
    }
    for (QByteArray trailer = readLine(); !trailer.isEmpty(); trailer = readLine()) {
        reply_.lines << LineText(trailer);
        if (MaxHeaderLines > 0 && reply_.lines.size() > MaxHeaderLines)
            throw TransferError(QStringLiteral("Too many header lines."));
    }
}

void HttpClient::ReadMultipart(ByteSink *sink)
{
    const QByteArray terminator = "--" + reply_.Boundary().toLatin1() + "--";
    QByteArray tail; // the last bytes passed on, so a terminator split between receives is found
    for (;;) {
        if (connection_->Buffered().isEmpty() && !connection_->ReceiveMore())
            return;
        const QByteArrayView view = connection_->Buffered();
        QByteArray window = tail;
        window.append(view);
        const qsizetype found = window.indexOf(terminator);
        const qsizetype take = found >= 0 ? found + terminator.size() - tail.size() : view.size();
        if (sink)
            sink->Write(view.first(take));
        connection_->Consume(take);
        if (found >= 0) {
            connection_->ReadLine();
            return;
        }
        tail = window.right(terminator.size() - 1);
    }
}

void HttpClient::ReadUntilClose(ByteSink *sink, bool counted)
{
    do {
        const QByteArrayView view = connection_->Buffered();
        if (view.isEmpty())
            continue;
        if (sink)
            sink->Write(view);
        connection_->Consume(view.size(), counted);
    } while (connection_->ReceiveMore());
}
