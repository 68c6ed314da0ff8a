#include "scripted_server.h"

#include <chrono>

namespace {

void SendAll(TestSocket::Handle socket, const char *data, size_t size)
{
    TestSocket::SendAll(socket, data, qint64(size));
}

// Reads up to the empty line that ends a request head; empty when the client went away.
QByteArray ReadHead(TestSocket::Handle socket)
{
    QByteArray head;
    char byte;
    while (!head.endsWith("\r\n\r\n")) {
        if (!TestSocket::WaitReadable(socket, 10000) || TestSocket::Receive(socket, &byte, 1) != 1)
            return {};
        head += byte;
    }
    return head;
}

// Waits (bounded) for the client to close, so the server never cuts a reply short itself.
void AwaitClientClose(TestSocket::Handle socket)
{
    char buffer[4096];
    for (;;) {
        if (!TestSocket::WaitReadable(socket, 10000) || TestSocket::Receive(socket, buffer, sizeof buffer) <= 0)
            return;
    }
}

} // namespace

ScriptedServer::ScriptedServer(std::vector<Script> connections)
{
    listener_ = TestSocket::Listen(port_);
    acceptor_ = std::thread(
        [this, connections = std::move(connections)]() mutable { AcceptLoop(std::move(connections)); });
}

ScriptedServer::~ScriptedServer()
{
    stopping_ = true;
    acceptor_.join();
    for (std::thread &player : players_)
        player.join();
    TestSocket::Close(listener_);
}

QString ScriptedServer::Url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
}

std::vector<QByteArray> ScriptedServer::Requests() const
{
    const std::lock_guard guard(lock_);
    return requests_;
}

int ScriptedServer::Accepted() const
{
    const std::lock_guard guard(lock_);
    return accepted_;
}

void ScriptedServer::AcceptLoop(std::vector<Script> connections)
{
    for (Script &script : connections) {
        // Polled, so that the destructor can end the wait on every system.
        TestSocket::Handle fd = TestSocket::None;
        while (fd == TestSocket::None) {
            if (stopping_ || listener_ == TestSocket::None)
                return;
            if (TestSocket::WaitReadable(listener_, 50))
                fd = TestSocket::Accept(listener_);
        }
        {
            const std::lock_guard guard(lock_);
            ++accepted_;
        }
        players_.emplace_back([this, fd, script = std::move(script)] { Play(fd, script); });
    }
}

void ScriptedServer::Play(TestSocket::Handle fd, const Script &script)
{
    for (const Step &step : script) {
        switch (step.kind) {
        case Step::Expect: {
            const QByteArray head = ReadHead(fd);
            const std::lock_guard guard(lock_);
            requests_.push_back(head);
            break;
        }
        case Step::Send:
            SendAll(fd, step.bytes.constData(), static_cast<size_t>(step.bytes.size()));
            break;
        case Step::SendBytewise:
            for (char byte : step.bytes) {
                SendAll(fd, &byte, 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
            }
            break;
        case Step::Delay:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
            break;
        case Step::Close:
            TestSocket::ShutdownSending(fd);
            AwaitClientClose(fd);
            TestSocket::Close(fd);
            return;
        case Step::Reset:
            TestSocket::Reset(fd);
            return;
        }
    }
    AwaitClientClose(fd);
    TestSocket::Close(fd);
}
