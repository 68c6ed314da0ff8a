#pragma once

#include "test_socket.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// A loopback HTTP server that plays a fixed script per accepted connection and records the
// request heads it receives, so tests can check exact bytes both ways.
struct Step {
    enum Kind { Expect, Send, SendBytewise, Delay, Close, Reset };
    Kind kind;
    QByteArray bytes;
    int ms = 0;

    static Step ExpectRequest() { return {Expect, {}, 0}; }
    static Step Reply(QByteArray bytes) { return {Send, std::move(bytes), 0}; }
    static Step ReplyBytewise(QByteArray bytes, int delayMs)
    {
        return {SendBytewise, std::move(bytes), delayMs};
    }
    static Step Pause(int ms) { return {Delay, {}, ms}; }
    static Step CloseOrderly() { return {Close, {}, 0}; }
    static Step ResetConnection() { return {Reset, {}, 0}; }
};
using Script = std::vector<Step>;

class ScriptedServer {
public:
    // One script per connection, in the order connections are accepted. A script that does
    // not end in a close keeps its connection open until the client closes it.
    explicit ScriptedServer(std::vector<Script> connections);
    ~ScriptedServer();

    quint16 Port() const { return port_; }
    QString Url(const QString &path) const;
    std::vector<QByteArray> Requests() const;
    int Accepted() const;

private:
    void AcceptLoop(std::vector<Script> connections);
    void Play(TestSocket::Handle fd, const Script &script);

    TestSocket::Handle listener_ = TestSocket::None;
    std::atomic<bool> stopping_ = false;
    quint16 port_ = 0;
    mutable std::mutex lock_;
    std::vector<QByteArray> requests_;
    int accepted_ = 0;
    std::vector<std::thread> players_;
    std::thread acceptor_;
};
