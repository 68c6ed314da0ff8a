#pragma once

#include "address.h"
#include "byte_sink.h"
#include "proxy_rules.h"
#include "reply_head.h"
#include "transfer_error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class Connection;
class CookieStore;
class Transport;

enum TWorkMode : int { wmRead, wmWrite };

// A blocking HTTP/1.1 GET client: one object per transfer, driven as create, Get,
// Disconnect, destroy. Progress callbacks run on the caller's thread inside Get and may
// raise; their errors end Get unchanged.
class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    bool HandleRedirects = false;
    int RedirectMaximum = 15;
    bool AllowCookies = true;
    int MaxHeaderLines = 255;   // 0 or less: no cap
    int ConnectTimeout = 30000; // ms; 0 or less: no limit
    int ReadTimeout = 60000;    // ms of silence while a reply is awaited or read

    std::function<void(HttpClient &sender, TWorkMode mode, qint64 workCountMax)> OnWorkBegin;
    std::function<void(HttpClient &sender, TWorkMode mode, qint64 workCount)> OnWork;
    std::function<void(HttpClient &sender, TWorkMode mode)> OnWorkEnd;
    // Every request head, just before it is sent.
    std::function<void(HttpClient &sender, const QByteArray &head)> OnRequestHead;
    // Every final reply head (interim 1xx replies aside), before its body is read; may
    // raise to end Get.
    std::function<void(HttpClient &sender, const ReplyHead &reply)> OnReplyHead;

    // Opens the transport of every new connection; unset, a socket to the target or its
    // proxy. Set, replies can be played from memory (memory_transport.h).
    std::function<std::unique_ptr<Transport>()> OpenTransport;

    // Header lines ("Name: value") sent on every hop after the User-Agent line; none by
    // default. A resumed download sends its Range here.
    QStringList ExtraHeaders;

    // Writes the final reply's body into the sink from its current position. Raises
    // TransferError, or the sink's or a callback's error.
    void Get(const QString &address, ByteSink &sink);
    void Disconnect();

private:
    struct Counter {
        int level = 0;
        qint64 count = 0;
    };
    enum class BodyUse { Keep, Discard, DiscardRedirect };

    void RunHops(const QString &address, ByteSink &sink);
    void Exchange(const ConnectionTarget &target, const QByteArray &head);
    // True when an open connection is kept for the hop.
    bool PrepareConnection(const ConnectionTarget &target);
    void OpenTunnel();
    ReplyHead ReadHead();
    QByteArray RequestHead();
    // scheme://host[:port]/path?query, as a proxy that forwards the request needs it.
    QString AbsoluteTarget() const;
    void ReadReplyHead();
    void ReadFinalReplyHead();
    void ReadBody(ByteSink *sink, BodyUse use);
    void ReadBodyAside(BodyUse use);
    void ReadKnownLength(ByteSink *sink, qint64 length);
    void ReadChunked(ByteSink *sink);
    void ReadMultipart(ByteSink *sink);
    void ReadUntilClose(ByteSink *sink, bool counted);
    void TakeCookies();
    bool Reusable();
    void CloseUnlessReusable();

    template <typename Body>
    void WithReadUnit(qint64 workCountMax, Body body);
    void BeginWork(TWorkMode mode, qint64 workCountMax);
    void DoWork(TWorkMode mode, qint64 count);
    void EndWork(TWorkMode mode);

    Address current_;
    std::optional<ProxyServer> proxy_; // of the current hop
    std::unique_ptr<Connection> connection_;
    std::unique_ptr<CookieStore> cookies_;
    ReplyHead reply_;
    Counter counters_[2];
};
