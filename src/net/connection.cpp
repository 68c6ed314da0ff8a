#include "connection.h"

#include "socket_errors.h"
#include "transfer_error.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QMutex>
#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

namespace {

QMutex trustLock;
QList<QSslCertificate> extraAuthorities;

QSslConfiguration TlsConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    const QMutexLocker locker(&trustLock);
    // Setting authorities turns off the on-demand use of the system store, so the system's
    // certificates are listed explicitly when extra ones are trusted.
    if (!extraAuthorities.isEmpty())
        configuration.setCaCertificates(QSslConfiguration::systemCaCertificates() + extraAuthorities);
    return configuration;
}

int WaitLimit(int ms)
{
    return ms > 0 ? ms : -1;
}

QHostAddress Resolve(const ConnectionTarget &target)
{
    if (target.host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return QHostAddress(QHostAddress::LocalHost);
    QHostAddress literal;
    const auto wanted = target.ipv6 ? QAbstractSocket::IPv6Protocol : QAbstractSocket::IPv4Protocol;
    if (literal.setAddress(target.host) && literal.protocol() == wanted)
        return literal;
    const QHostInfo info = QHostInfo::fromName(AsciiHost(target.host));
    for (const QHostAddress &address : info.addresses()) {
        if (address.protocol() == wanted)
            return address;
    }
    throw TransferError(SocketErrorMessage(SocketErrorCode::HostNotFound));
}

int NumberOf(const QAbstractSocket &socket)
{
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return SocketErrorCode::ConnectionRefused;
    case QAbstractSocket::RemoteHostClosedError:
        return SocketErrorCode::ConnectionReset;
    case QAbstractSocket::HostNotFoundError:
        return SocketErrorCode::HostNotFound;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045;
    case QAbstractSocket::NetworkError: {
        // Qt folds several system errors into this one; its text tells them apart.
        const QString text = socket.errorString();
        if (text.contains(QLatin1String("Network unreachable"), Qt::CaseInsensitive))
            return SocketErrorCode::NetworkUnreachable;
        if (text.contains(QLatin1String("Host unreachable"), Qt::CaseInsensitive))
            return SocketErrorCode::HostUnreachable;
        if (text.contains(QLatin1String("timed out"), Qt::CaseInsensitive))
            return SocketErrorCode::TimedOut;
        return 10050;
    }
    default:
        return 0;
    }
}

} // namespace

void AddTrustedCaCertificates(const QList<QSslCertificate> &certificates)
{
    const QMutexLocker locker(&trustLock);
    extraAuthorities += certificates;
}

Connection::Connection(const ConnectionTarget &target, const Timeouts &timeouts)
    : target_(target), timeouts_(timeouts)
{
    if (target_.host.isEmpty())
        throw TransferError(QStringLiteral("A Host is required"));
    if (target_.port == 0)
        throw TransferError(QStringLiteral("A Port is required"));
    Open();
}

Connection::~Connection()
{
    Close();
}

void Connection::Open()
{
    if (target_.tls && !QSslSocket::supportsSsl())
        throw TransferError(QStringLiteral("Could not load SSL library."));
    const QHostAddress address = Resolve(target_);

    if (!target_.tls) {
        socket_ = std::make_unique<QTcpSocket>();
        socket_->setProxy(QNetworkProxy::NoProxy);
        socket_->setReadBufferSize(ReceiveSize);
        socket_->connectToHost(address, target_.port);
        if (!socket_->waitForConnected(WaitLimit(timeouts_.connectMs)))
            FailFromSocket(true);
        return;
    }

    auto tls = std::make_unique<QSslSocket>();
    QSslSocket &socket = *tls;
    socket_ = std::move(tls);
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.setReadBufferSize(ReceiveSize);
    socket.setSslConfiguration(TlsConfiguration());
    // Connect to the resolved address; the host name goes out as SNI and is what the
    // certificate must name.
    socket.connectToHostEncrypted(address.toString(), target_.port, AsciiHost(target_.host));
    if (!socket.waitForConnected(WaitLimit(timeouts_.connectMs)))
        FailFromSocket(true);
    if (socket.waitForEncrypted(WaitLimit(timeouts_.readMs)))
        return;
    QStringList reasons;
    for (const QSslError &error : socket.sslHandshakeErrors())
        reasons << error.errorString();
    if (reasons.isEmpty() && socket.error() != QAbstractSocket::SslHandshakeFailedError)
        FailFromSocket(false);
    if (reasons.isEmpty())
        reasons << socket.errorString();
    throw TransferError(
        QStringLiteral("TLS handshake with %1 failed: %2").arg(target_.host, reasons.join(u"; ")));
}

void Connection::FailFromSocket(bool connecting)
{
    const QAbstractSocket &socket = *socket_;
    if (socket.error() == QAbstractSocket::SocketTimeoutError)
        throw TransferError(connecting ? QStringLiteral("Connect timed out.")
                                       : QStringLiteral("Read timed out."));
    const int number = NumberOf(socket);
    if (number == 0)
        throw TransferError(socket.errorString());
    throw TransferError(SocketErrorMessage(number));
}

bool Connection::IsOpen() const
{
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

bool Connection::StillOpen()
{
    if (IsOpen() && socket_->bytesAvailable() == 0)
        socket_->waitForReadyRead(0);
    return IsOpen();
}

void Connection::Send(const QByteArray &bytes)
{
    if (socket_->write(bytes) != bytes.size())
        FailFromSocket(false);
    while (socket_->bytesToWrite() > 0) {
        if (!socket_->waitForBytesWritten(WaitLimit(timeouts_.readMs)))
            FailFromSocket(false);
    }
}

Connection::Receipt Connection::Receive(int waitMs)
{
    const QDeadlineTimer deadline(waitMs >= 0 ? waitMs : WaitLimit(timeouts_.readMs));
    while (socket_->bytesAvailable() == 0) {
        if (socket_->state() != QAbstractSocket::ConnectedState)
            return Receipt::Ended;
        if (socket_->waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            continue;
        if (socket_->state() == QAbstractSocket::ConnectedState) {
            if (socket_->error() == QAbstractSocket::SocketTimeoutError)
                return Receipt::TimedOut;
            FailFromSocket(false);
        }
        // Qt reports a reset while reading as an end of the stream, like an orderly close.
        if (socket_->error() == QAbstractSocket::RemoteHostClosedError)
            return Receipt::Ended;
        FailFromSocket(false);
    }
    if (start_ > 0) {
        buffer_.remove(0, start_);
        start_ = 0;
    }
    const qsizetype old = buffer_.size();
    buffer_.resize(old + ReceiveSize);
    const qint64 got = socket_->read(buffer_.data() + old, ReceiveSize);
    buffer_.resize(old + std::max<qint64>(got, 0));
    if (got < 0)
        FailFromSocket(false);
    return Receipt::Received;
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
    throw TransferError(QStringLiteral("Read timed out."));
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
    if (socket_)
        socket_->skip(socket_->bytesAvailable());
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

void Connection::Close()
{
    if (!socket_)
        return;
    if (socket_->state() != QAbstractSocket::UnconnectedState) {
        socket_->disconnectFromHost();
        if (socket_->state() != QAbstractSocket::UnconnectedState)
            socket_->waitForDisconnected(1000);
    }
    socket_->abort();
}
