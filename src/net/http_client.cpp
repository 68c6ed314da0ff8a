#include "http_client.h"

#include "connection.h"
#include "cookie_store.h"
#include "socket_transport.h"
#include "text.h"
#include "transfer_log.h"

#include <QDateTime>

namespace {

const QString AcceptValue = QStringLiteral("text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
const QString UserAgentValue = QStringLiteral("Mozilla/3.0 (compatible; Setup Downloader)");

// One byte per character: ASCII as itself, anything else as '?'.
QByteArray HeadBytes(const QString &text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        bytes[i] = text[i].unicode() < 0x80 ? static_cast<char>(text[i].unicode()) : '?';
    return bytes;
}

} // namespace

HttpClient::HttpClient() = default;

HttpClient::~HttpClient() = default;

void HttpClient::Get(const QString &address, ByteSink &sink)
{
    try {
        RunHops(address, sink);
    } catch (...) {
        // After a failure the stream's state is unknown, so the connection is not kept.
        if (connection_)
            connection_->Close();
        throw;
    }
    CloseUnlessReusable();
}

void HttpClient::Disconnect()
{
    if (connection_)
        connection_->Close();
}

void HttpClient::RunHops(const QString &address, ByteSink &sink)
{
    const qint64 start = sink.Position();
    int redirects = 0;
    QString requestAddress = address;
    for (;;) {
        current_ = MergeAddress(current_, ParseAddress(requestAddress));
        const ConnectionTarget target = TargetOf(current_);
        // Decided for every hop: a redirect may lead to a host the proxy rules exempt.
        proxy_ = ProcessProxyRules().For(current_);
        const QByteArray head = RequestHead();
        LogTransfer(
            QStringLiteral("GET ") + AbsoluteTarget() +
            (proxy_ ? QStringLiteral(" (proxy %1)").arg(proxy_->Name()) : QStringLiteral(" (no proxy)")));
        Exchange(target, head);
        LogTransfer(reply_.statusLine);
        if (OnReplyHead)
            OnReplyHead(*this, reply_);

        const int status = reply_.StatusCode();
        const QString location = reply_.HeaderAsSent(u"Location");
        const bool redirect = status >= 300 && status <= 399 && status != 304 && !location.isEmpty();
        if (redirect)
            ++redirects;
        if (status >= 200 && status <= 299) {
            ReadBody(&sink, BodyUse::Keep);
            return;
        }
        if (redirect && HandleRedirects && redirects < RedirectMaximum) {
            ReadBodyAside(BodyUse::DiscardRedirect);
            sink.SetSize(start);
            sink.Seek(start);
            requestAddress = location;
            continue;
        }
        if (redirect && HandleRedirects) {
            ReadBodyAside(BodyUse::DiscardRedirect);
            throw TransferError(QStringLiteral("Too many redirects."), status);
        }
        ReadBodyAside(BodyUse::Discard);
        if (status == 407 && proxy_)
            throw ProxyAuthenticationRequired(*proxy_);
        throw TransferError(reply_.statusLine, status);
    }
}

QString HttpClient::AbsoluteTarget() const
{
    return current_.scheme + QStringLiteral("://") + HostValue(current_) + RequestTarget(current_);
}

QByteArray HttpClient::RequestHead()
{
    // A proxy that forwards the request needs the whole address; a tunnel does not.
    const bool forwarded = proxy_ && !TargetOf(current_).tls;
    QString head = QStringLiteral("GET ") + (forwarded ? AbsoluteTarget() : RequestTarget(current_)) +
                   QStringLiteral(" HTTP/1.1\r\n");
    const auto addLine = [&head](const QString &name, const QString &value) {
        if (!value.isEmpty())
            head += name + QStringLiteral(": ") + value + QStringLiteral("\r\n");
    };
    addLine(QStringLiteral("Host"), HostValue(current_));
    addLine(QStringLiteral("Accept"), AcceptValue);
    addLine(QStringLiteral("User-Agent"), UserAgentValue);
    for (const QString &line : ExtraHeaders)
        head += line + QStringLiteral("\r\n");
    if (forwarded)
        addLine(QStringLiteral("Proxy-Authorization"), proxy_->Authorization());
    if (AllowCookies && cookies_)
        addLine(QStringLiteral("Cookie"), cookies_->HeaderFor(current_, QDateTime::currentDateTimeUtc()));
    head += QStringLiteral("\r\n");
    return HeadBytes(head);
}

bool HttpClient::Reusable()
{
    const QString connection = FoldAsciiCase(
        reply_.Header(connection_ && connection_->Proxy() && !connection_->NeedsTunnel() ? u"Proxy-Connection"
                                                                                         : u"Connection"));
    // An HTTP/1.0 server closes after its reply unless it said keep-alive; waiting for
    // that close to show would race with the next request.
    const bool closesByDefault = reply_.statusLine.startsWith(QLatin1String("HTTP/1.0 "));
    return connection_ && connection_->StillOpen() && connection != QLatin1String("close") &&
           (!closesByDefault || connection == QLatin1String("keep-alive"));
}

void HttpClient::CloseUnlessReusable()
{
    if (connection_ && !Reusable())
        connection_->Close();
}

void HttpClient::Exchange(const ConnectionTarget &target, const QByteArray &head)
{
    const auto send = [&] {
        if (OnRequestHead)
            OnRequestHead(*this, head);
        connection_->Send(head);
    };
    const bool reused = PrepareConnection(target);
    const qint64 receivedBefore = connection_->Received();
    try {
        send();
        ReadFinalReplyHead();
    } catch (const ConnectionClosedGracefully &) {
        // A kept connection may be closed by the server just as the request goes out. Before
        // any byte of a reply, a GET can go once more on a fresh connection (RFC 9112 9.3.1).
        if (!reused || connection_->Received() != receivedBefore)
            throw;
        connection_.reset();
        PrepareConnection(target);
        send();
        ReadFinalReplyHead();
    }
}

bool HttpClient::PrepareConnection(const ConnectionTarget &target)
{
    if (connection_) {
        const ConnectionTarget &open = connection_->Target();
        const bool sameHost =
            open.host.compare(target.host, Qt::CaseInsensitive) == 0 && open.port == target.port;
        // A proxy that forwards requests carries those for every host on one connection.
        const bool forwardedAlike = proxy_ && !target.tls && !open.tls;
        const bool sameTarget =
            connection_->Proxy() == proxy_ && open.tls == target.tls && (sameHost || forwardedAlike);
        if (!sameTarget || !Reusable())
            connection_.reset();
        else
            connection_->ClearBuffer();
    }
    if (connection_)
        return true;
    std::unique_ptr<Transport> transport;
    if (OpenTransport)
        transport = OpenTransport();
    else
        transport = std::make_unique<SocketTransport>(target, proxy_,
                                                      SocketTransport::Timeouts{ConnectTimeout, ReadTimeout});
    connection_ = std::make_unique<Connection>(target, proxy_, std::move(transport));
    connection_->OnConsumed = [this](qint64 count) { DoWork(wmRead, count); };
    if (connection_->NeedsTunnel())
        OpenTunnel();
    return false;
}

void HttpClient::OpenTunnel()
{
    const ConnectionTarget &target = connection_->Target();
    const QString authority = (target.ipv6 ? u'[' + AsciiHost(target.host) + u']' : AsciiHost(target.host)) +
                              u':' + QString::number(target.port);
    QString head = QStringLiteral("CONNECT %1 HTTP/1.1\r\nHost: %1\r\nUser-Agent: %2\r\n")
                       .arg(authority, UserAgentValue);
    const QString authorization = proxy_->Authorization();
    if (!authorization.isEmpty())
        head += QStringLiteral("Proxy-Authorization: ") + authorization + QStringLiteral("\r\n");
    connection_->Send(HeadBytes(head + QStringLiteral("\r\n")));
    const ReplyHead reply = ReadHead();
    const int status = reply.StatusCode();
    if (status == 407)
        throw ProxyAuthenticationRequired(*proxy_);
    if (status < 200 || status > 299)
        throw TransferError(reply.statusLine, status);
    connection_->StartTls();
}

void HttpClient::ReadReplyHead()
{
    reply_ = {};
    reply_ = ReadHead();
    TakeCookies();
}

ReplyHead HttpClient::ReadHead()
{
    ReplyHead head;
    const std::optional<QByteArray> status = connection_->ReadLine();
    if (!status)
        throw ConnectionClosedGracefully();
    head.statusLine = LineText(*status);
    for (;;) {
        const std::optional<QByteArray> line = connection_->ReadLine();
        // A head cut short could have lost the very lines that frame the body.
        if (!line)
            throw ConnectionClosedGracefully();
        if (line->isEmpty())
            break;
        head.lines << LineText(*line, true);
        if (MaxHeaderLines > 0 && head.lines.size() > MaxHeaderLines)
            throw TransferError(QStringLiteral("Too many header lines."));
    }
    return head;
}

void HttpClient::ReadFinalReplyHead()
{
    for (;;) {
        ReadReplyHead();
        const int status = reply_.StatusCode();
        if (status < 100 || status > 199 || status == 101)
            return;
    }
}

void HttpClient::TakeCookies()
{
    if (!AllowCookies)
        return;
    if (!cookies_)
        cookies_ = std::make_unique<CookieStore>();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QString &value : reply_.Headers(u"Set-Cookie"))
        cookies_->Take(value, current_, now);
}
