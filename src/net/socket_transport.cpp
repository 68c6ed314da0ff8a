#include "socket_transport.h"

#include "native_connect.h"
#include "network_wait.h"
#include "socket_errors.h"
#include "transfer_error.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QMutex>
#include <QNetworkProxy>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>
#include <condition_variable>
#include <mutex>
#include <vector>

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

QDeadlineTimer DeadlineIn(int ms)
{
    return ms > 0 ? QDeadlineTimer(ms) : QDeadlineTimer(QDeadlineTimer::Forever);
}

// Threads of lookups given up on. A resolver cannot be interrupted, so each such thread is
// deleted by a later give-up once it has ended; those still in the resolver at exit are left
// to it (the list is never destroyed, so nothing waits for them).
void KeepUntilEnded(QThread *abandoned)
{
    static std::mutex lock;
    static auto *const running = new std::vector<QThread *>;
    const std::lock_guard<std::mutex> locked(lock);
    std::erase_if(*running, [](QThread *thread) {
        if (!thread->isFinished())
            return false;
        thread->wait();
        delete thread;
        return true;
    });
    running->push_back(abandoned);
}

// The platform's lookup blocks for as long as its resolver likes, so it runs on a thread
// of its own while this one waits in slices. That is a QThread, for the reason TEntryPool's
// workers are ones: the first lookup makes Qt's lookup cache, a Qt object, on it.
QHostInfo LookUpHost(const QString &name, QDeadlineTimer deadline)
{
    struct Pending {
        std::mutex lock;
        std::condition_variable done;
        std::optional<QHostInfo> info;
    };
    const auto pending = std::make_shared<Pending>();
    QThread *const lookup = QThread::create([pending, name] {
        QHostInfo info = QHostInfo::fromName(name);
        const std::lock_guard<std::mutex> locked(pending->lock);
        pending->info = std::move(info);
        pending->done.notify_all();
    });
    lookup->start();
    // However this thread leaves (answered, timed out, or the window closed), a lookup that has
    // answered is waited for, as only its return is left; one that has not is given up on.
    const auto settle = qScopeGuard([&] {
        const bool answered = [&] {
            const std::lock_guard<std::mutex> locked(pending->lock);
            return pending->info.has_value();
        }();
        if (answered) {
            lookup->wait();
            delete lookup;
        } else {
            KeepUntilEnded(lookup);
        }
    });
    for (;;) {
        {
            std::unique_lock<std::mutex> locked(pending->lock);
            pending->done.wait_for(locked, std::chrono::milliseconds(SliceOf(deadline)),
                                   [&] { return pending->info.has_value(); });
            if (pending->info)
                return *pending->info;
        }
        if (deadline.hasExpired())
            throw TransferError::Network(QStringLiteral("Connect timed out."));
        CallWaitHook();
    }
}

QHostAddress Resolve(const ConnectionTarget &target, QDeadlineTimer deadline)
{
    if (target.host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return QHostAddress(QHostAddress::LocalHost);
    QHostAddress literal;
    const auto wanted = target.ipv6 ? QAbstractSocket::IPv6Protocol : QAbstractSocket::IPv4Protocol;
    if (literal.setAddress(target.host) && literal.protocol() == wanted)
        return literal;
    const QHostInfo info = LookUpHost(AsciiHost(target.host), deadline);
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

SocketTransport::SocketTransport(const ConnectionTarget &target, const std::optional<ProxyServer> &proxy,
                                 const Timeouts &timeouts)
    : target_(target), proxy_(proxy), timeouts_(timeouts)
{
    if (target_.host.isEmpty())
        throw TransferError(QStringLiteral("A Host is required"));
    if (target_.port == 0)
        throw TransferError(QStringLiteral("A Port is required"));
    Open();
}

SocketTransport::~SocketTransport()
{
    Close();
}

void SocketTransport::Open()
{
    if (target_.tls && !QSslSocket::supportsSsl())
        throw TransferError(QStringLiteral("Could not load SSL library."));
    // The name lookup and the connect share the connect time-out.
    const QDeadlineTimer connectDeadline = DeadlineIn(timeouts_.connectMs);
    qintptr descriptor = 0;
    if (proxy_) {
        try {
            const ConnectionTarget to{proxy_->host, proxy_->port, false, proxy_->host.contains(u':')};
            descriptor = ConnectSocket(Resolve(to, connectDeadline), to.port, connectDeadline);
        } catch (const TransferError &error) {
            const QString message =
                QStringLiteral("Cannot reach the proxy %1: %2").arg(proxy_->Name(), error.Message());
            throw error.IsNetworkFault() ? TransferError::Network(message) : TransferError(message);
        }
    } else {
        descriptor = ConnectSocket(Resolve(target_, connectDeadline), target_.port, connectDeadline);
    }
    if (!target_.tls) {
        socket_ = std::make_unique<QTcpSocket>();
        Adopt(descriptor);
        return;
    }
    auto tls = std::make_unique<QSslSocket>();
    tls->setSslConfiguration(TlsConfiguration());
    socket_ = std::move(tls);
    Adopt(descriptor);
    if (!proxy_)
        StartTls();
}

void SocketTransport::StartTls()
{
    auto &secure = static_cast<QSslSocket &>(*socket_);
    // The host name goes out as SNI and is what the certificate must name.
    secure.setPeerVerifyName(AsciiHost(target_.host));
    secure.startClientEncryption();
    const QDeadlineTimer deadline = DeadlineIn(timeouts_.readMs);
    while (!secure.waitForEncrypted(SliceOf(deadline))) {
        if (secure.state() != QAbstractSocket::ConnectedState ||
            secure.error() != QAbstractSocket::SocketTimeoutError)
            break;
        if (deadline.hasExpired())
            throw TransferError::Network(QStringLiteral("Read timed out."));
        CallWaitHook();
    }
    if (secure.isEncrypted())
        return;
    QStringList reasons;
    for (const QSslError &error : secure.sslHandshakeErrors())
        reasons << error.errorString();
    if (reasons.isEmpty() && secure.error() != QAbstractSocket::SslHandshakeFailedError)
        FailFromSocket();
    if (reasons.isEmpty())
        reasons << secure.errorString();
    throw TransferError(
        QStringLiteral("TLS handshake with %1 failed: %2").arg(target_.host, reasons.join(u"; ")));
}

void SocketTransport::Adopt(qintptr descriptor)
{
    socket_->setProxy(QNetworkProxy::NoProxy);
    socket_->setReadBufferSize(ReceiveSize);
    if (!socket_->setSocketDescriptor(descriptor)) {
        CloseSocket(descriptor);
        throw TransferError::Network(socket_->errorString());
    }
}

void SocketTransport::FailFromSocket()
{
    const QAbstractSocket &socket = *socket_;
    if (socket.error() == QAbstractSocket::SocketTimeoutError)
        throw TransferError::Network(QStringLiteral("Read timed out."));
    // Qt reports an orderly close and a reset alike, while writing and while reading, so
    // both read as the close they usually are.
    if (socket.error() == QAbstractSocket::RemoteHostClosedError)
        throw ConnectionClosedGracefully();
    const int number = NumberOf(socket);
    if (number == 0)
        throw TransferError::Network(socket.errorString());
    throw TransferError::Network(SocketErrorMessage(number));
}

bool SocketTransport::IsOpen() const
{
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

bool SocketTransport::StillOpen()
{
    if (IsOpen() && socket_->bytesAvailable() == 0)
        socket_->waitForReadyRead(0);
    return IsOpen();
}

void SocketTransport::Send(const QByteArray &bytes)
{
    if (socket_->write(bytes) != bytes.size())
        FailFromSocket();
    const QDeadlineTimer deadline = DeadlineIn(timeouts_.readMs);
    while (socket_->bytesToWrite() > 0) {
        if (socket_->waitForBytesWritten(SliceOf(deadline)))
            continue;
        if (!IsOpen() || socket_->error() != QAbstractSocket::SocketTimeoutError || deadline.hasExpired())
            FailFromSocket();
        CallWaitHook();
    }
}

Transport::Receipt SocketTransport::Receive(QByteArray &buffer, int waitMs)
{
    const QDeadlineTimer deadline = waitMs >= 0 ? QDeadlineTimer(waitMs) : DeadlineIn(timeouts_.readMs);
    while (socket_->bytesAvailable() == 0) {
        if (socket_->state() != QAbstractSocket::ConnectedState)
            return Receipt::Ended;
        const bool lastLook = deadline.hasExpired();
        if (socket_->waitForReadyRead(lastLook ? 0 : SliceOf(deadline)))
            continue;
        if (socket_->state() == QAbstractSocket::ConnectedState) {
            if (socket_->error() != QAbstractSocket::SocketTimeoutError)
                FailFromSocket();
            if (lastLook)
                return Receipt::TimedOut;
            CallWaitHook();
            continue;
        }
        // The end of the stream, by an orderly close or a reset: Qt tells them apart in no
        // reliable way.
        if (socket_->error() == QAbstractSocket::RemoteHostClosedError)
            return Receipt::Ended;
        FailFromSocket();
    }
    const qsizetype old = buffer.size();
    buffer.resize(old + ReceiveSize);
    const qint64 got = socket_->read(buffer.data() + old, ReceiveSize);
    buffer.resize(old + std::max<qint64>(got, 0));
    if (got < 0)
        FailFromSocket();
    return Receipt::Received;
}

void SocketTransport::DropPending()
{
    if (socket_)
        socket_->skip(socket_->bytesAvailable());
}

void SocketTransport::Close()
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
