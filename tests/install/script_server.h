#pragma once

#include "test_socket.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <atomic>
#include <mutex>
#include <thread>

// A scripted HTTP server for the window tests, on 127.0.0.1 in a thread of its own (the
// installer's transfers block the test's thread). Each request target gets a scripted reply;
// every connection is closed after its reply.
class ScriptServer {
public:
    struct Reply {
        QByteArray head; // status line and header lines, each ending in CRLF, no blank line
        QByteArray body;
        // Send only this many body bytes, then hold the connection until the client closes
        // it (at most 20 s); -1 sends the whole body.
        qint64 holdAfter = -1;
        // Send only this many body bytes, then close; -1 sends the whole body.
        qint64 cutAfter = -1;
        // Send nothing at all and hold the connection as holdAfter does.
        bool silent = false;
    };

    ScriptServer();
    ~ScriptServer();
    ScriptServer(const ScriptServer &) = delete;
    ScriptServer &operator=(const ScriptServer &) = delete;

    // "http://127.0.0.1:<port>"
    QString Base() const;
    // Replies to GET <target>; unknown targets get 404.
    void On(const QByteArray &target, const Reply &reply);
    // Replies to the next GET <target> only, before the reply set with On.
    void Next(const QByteArray &target, const Reply &reply);
    // Request targets in the order they came.
    QList<QByteArray> Requests() const;
    // Whether a held reply saw its client close the connection before the whole body went out.
    bool ClientLeftEarly() const { return clientLeftEarly_; }

    static Reply Ok(const QByteArray &body, const QByteArray &contentType = "application/octet-stream");
    static Reply Status(const QByteArray &statusLine, const QByteArray &headers = {});
    // A 200 reply without Content-Length: the body ends when the connection closes.
    static Reply UntilClose(const QByteArray &body);
    static Reply Silent();

private:
    void Serve();
    void Answer(TestSocket::Handle connection);

    TestSocket::Handle listener_ = TestSocket::None;
    quint16 port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> clientLeftEarly_{false};
    mutable std::mutex mutex_;
    QMap<QByteArray, Reply> replies_;
    QMap<QByteArray, QList<Reply>> nextReplies_;
    QList<QByteArray> requests_;
    std::thread thread_;
};
