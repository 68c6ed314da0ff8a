#include "script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

bool SendAll(int socket, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t sent = ::send(socket, data, size_t(size), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= sent;
    }
    return true;
}

// Waits until the peer closes (or the time is up); true when it closed.
bool AwaitClose(int socket, int milliseconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    char scratch[4096];
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{socket, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0 && ::recv(socket, scratch, sizeof scratch, 0) <= 0)
            return true;
    }
    return false;
}

} // namespace

ScriptServer::ScriptServer()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("test server cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

ScriptServer::~ScriptServer()
{
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

QString ScriptServer::Base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

void ScriptServer::On(const QByteArray &target, const Reply &reply)
{
    std::lock_guard lock(mutex_);
    replies_[target] = reply;
}

void ScriptServer::Next(const QByteArray &target, const Reply &reply)
{
    std::lock_guard lock(mutex_);
    nextReplies_[target].append(reply);
}

QList<QByteArray> ScriptServer::Requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

ScriptServer::Reply ScriptServer::Ok(const QByteArray &body, const QByteArray &contentType)
{
    return {"HTTP/1.1 200 OK\r\nContent-Type: " + contentType +
                "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n",
            body};
}

ScriptServer::Reply ScriptServer::Status(const QByteArray &statusLine, const QByteArray &headers)
{
    return {statusLine + "\r\nContent-Length: 0\r\n" + headers, {}};
}

ScriptServer::Reply ScriptServer::UntilClose(const QByteArray &body)
{
    return {"HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\n", body};
}

ScriptServer::Reply ScriptServer::Silent()
{
    Reply reply;
    reply.silent = true;
    return reply;
}

void ScriptServer::Serve()
{
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int connection = ::accept(listener_, nullptr, nullptr);
        if (connection < 0)
            continue;
        Answer(connection);
        ::close(connection);
    }
}

void ScriptServer::Answer(int connection)
{
    QByteArray request;
    char buffer[4096];
    while (!request.contains("\r\n\r\n")) {
        pollfd p{connection, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            return;
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        request.append(buffer, got);
    }
    const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
    const QByteArray target = requestLine.value(1);
    Reply reply = Status("HTTP/1.1 404 Not Found");
    {
        std::lock_guard lock(mutex_);
        requests_.append(target);
        QList<Reply> &next = nextReplies_[target];
        reply = next.isEmpty() ? replies_.value(target, reply) : next.takeFirst();
    }
    const bool hold = reply.silent || reply.holdAfter >= 0;
    if (!reply.silent) {
        const QByteArray head = reply.head + "Connection: close\r\n\r\n";
        qint64 sent = reply.holdAfter < 0 ? reply.body.size() : reply.holdAfter;
        if (reply.cutAfter >= 0)
            sent = reply.cutAfter;
        if (!SendAll(connection, head.constData(), head.size()) ||
            !SendAll(connection, reply.body.constData(), sent))
            return;
    }
    if (hold && AwaitClose(connection, 20000))
        clientLeftEarly_ = true;
    ::shutdown(connection, SHUT_WR);
}
