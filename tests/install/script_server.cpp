#include "script_server.h"

#include <chrono>
#include <stdexcept>

using TestSocket::SendAll;

namespace {

// Waits until the peer closes (or the time is up); true when it closed.
bool AwaitClose(TestSocket::Handle socket, int milliseconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    char scratch[4096];
    while (std::chrono::steady_clock::now() < end) {
        if (TestSocket::WaitReadable(socket, 100) && TestSocket::Receive(socket, scratch, sizeof scratch) <= 0)
            return true;
    }
    return false;
}

} // namespace

ScriptServer::ScriptServer()
{
    listener_ = TestSocket::Listen(port_);
    if (listener_ == TestSocket::None)
        throw std::runtime_error("test server cannot listen");
    thread_ = std::thread([this] { Serve(); });
}

ScriptServer::~ScriptServer()
{
    stopping_ = true;
    thread_.join();
    TestSocket::Close(listener_);
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
        if (!TestSocket::WaitReadable(listener_, 50))
            continue;
        const TestSocket::Handle connection = TestSocket::Accept(listener_);
        if (connection == TestSocket::None)
            continue;
        Answer(connection);
        TestSocket::Close(connection);
    }
}

void ScriptServer::Answer(TestSocket::Handle connection)
{
    QByteArray request;
    char buffer[4096];
    while (!request.contains("\r\n\r\n")) {
        if (!TestSocket::WaitReadable(connection, 5000))
            return;
        const qint64 got = TestSocket::Receive(connection, buffer, sizeof buffer);
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
    TestSocket::ShutdownSending(connection);
}
