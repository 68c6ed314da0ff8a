#include "scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

void SendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
}

// Reads up to the empty line that ends a request head; empty when the client went away.
QByteArray ReadHead(int fd)
{
    QByteArray head;
    char byte;
    while (!head.endsWith("\r\n\r\n")) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0 || ::recv(fd, &byte, 1, 0) != 1)
            return {};
        head += byte;
    }
    return head;
}

// Waits (bounded) for the client to close, so the server never cuts a reply short itself.
void AwaitClientClose(int fd)
{
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0 || ::recv(fd, buffer, sizeof buffer, 0) <= 0)
            return;
    }
}

} // namespace

ScriptedServer::ScriptedServer(std::vector<Script> connections)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread(
        [this, connections = std::move(connections)]() mutable { AcceptLoop(std::move(connections)); });
}

ScriptedServer::~ScriptedServer()
{
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    for (std::thread &player : players_)
        player.join();
    ::close(listener_);
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
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0)
            return;
        {
            const std::lock_guard guard(lock_);
            ++accepted_;
        }
        players_.emplace_back([this, fd, script = std::move(script)] { Play(fd, script); });
    }
}

void ScriptedServer::Play(int fd, const Script &script)
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
            ::shutdown(fd, SHUT_WR);
            AwaitClientClose(fd);
            ::close(fd);
            return;
        case Step::Reset: {
            const linger abortive{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            ::close(fd);
            return;
        }
        }
    }
    AwaitClientClose(fd);
    ::close(fd);
}
