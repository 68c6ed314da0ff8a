#include "fetch_helper.h"
#include "qt_print.h"
#include "scripted_server.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray DefaultHeaders =
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
    "User-Agent: Mozilla/3.0 (compatible; Setup Downloader)\r\n";

QByteArray HeadFor(const QByteArray &target, quint16 port, const QByteArray &extra = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n" +
           DefaultHeaders + extra + "\r\n";
}

// One connection that reads a request, plays the reply and closes.
Script Once(const QByteArray &reply)
{
    return {Step::ExpectRequest(), Step::Reply(reply), Step::CloseOrderly()};
}

TEST(HttpClient, SendsTheExactRequestHead)
{
    const std::pair<QString, QByteArray> cases[] = {
        {"/a/b.txt?q=1#frag", "/a/b.txt?q=1"},
        {"", "/"},
        {"?x=1", "/?x=1"},
        {"/下载/安装 包.zip", "/%E4%B8%8B%E8%BD%BD/%E5%AE%89%E8%A3%85%20%E5%8C%85.zip"},
        {"/a%20b.zip", "/a%20b.zip"},
    };
    for (const auto &[path, target] : cases) {
        ScriptedServer server({Once("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")});
        const Fetched fetched = Fetch(server.Url(path));
        EXPECT_EQ(fetched.error, QString());
        EXPECT_EQ(fetched.body, "ok");
        ASSERT_EQ(server.Requests().size(), 1u);
        EXPECT_EQ(server.Requests()[0], HeadFor(target, server.Port()));
    }
}

struct FramingCase {
    const char *name;
    Script script;
    QByteArray body;
    QString error;
    QStringList events;
};

TEST(HttpClient, ReadsEveryFraming)
{
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    const FramingCase cases[] = {
        {"content length",
         Once(ok + "Content-Length: 5\r\n\r\nhello"),
         "hello",
         {},
         {"begin 5", "work 5", "end"}},
        {"content length, extra bytes ignored",
         Once(ok + "Content-Length: 3\r\n\r\nhello"),
         "hel",
         {},
         {"begin 3", "work 3", "end"}},
        {"header names in any case, first of two counts",
         Once(ok + "content-LENGTH: 3\r\nContent-Length: 5\r\n\r\nhello"),
         "hel",
         {},
         {"begin 3", "work 3", "end"}},
        {"folded header",
         Once(ok + "Content-Length:\r\n  4\r\n\r\nhello"),
         "hell",
         {},
         {"begin 4", "work 4", "end"}},
        {"chunked, framing counted",
         Once(ok + "Transfer-Encoding: Chunked\r\n\r\n5\r\nhello\r\n3;x=y\r\nabc\r\n0\r\nT: 1\r\n\r\n"),
         "helloabc",
         {},
         {"begin 0", "work 3", "work 8", "work 10", "work 17", "work 20", "work 22", "work 25", "work 31",
          "work 33", "end"}},
        {"chunk size that is no number fails like a cut-short body",
         Once(ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n\r\n"),
         "",
         "Connection Closed Gracefully.",
         {"begin 0", "work 4", "end"}},
        {"until close", Once(ok + "\r\nabc"), "abc", {}, {"begin 0", "work 3", "end"}},
        {"until reset",
         {Step::ExpectRequest(), Step::Reply(ok + "\r\nabc"), Step::Pause(100), Step::ResetConnection()},
         "abc",
         {},
         {"begin 0", "work 3", "end"}},
        {"204 has no body", Once("HTTP/1.1 204 No Content\r\n\r\nxyz"), "", {}, {}},
        {"length 0 has no body", Once(ok + "Content-Length: 0\r\n\r\nxyz"), "", {}, {}},
        {"100 Continue skipped",
         Once("HTTP/1.1 100 Continue\r\n\r\n" + ok + "Content-Length: 2\r\n\r\nhi"),
         "hi",
         {},
         {"begin 2", "work 2", "end"}},
        {"multipart ends at the closing boundary",
         Once(ok +
              "Content-Type: multipart/byteranges; boundary=\"XY\"\r\n\r\n--XY\r\nA\r\n--XY--tail\r\nmore"),
         "--XY\r\nA\r\n--XY--",
         {},
         {"begin 0", "work 15", "work 21", "end"}},
        {"multipart cut short keeps what came",
         Once(ok + "Content-Type: Multipart/mixed; boundary=XY\r\n\r\n--XY\r\nA"),
         "--XY\r\nA",
         {},
         {"begin 0", "work 7", "end"}},
        {"head cut short fails", Once(ok + "Content-Length: 2"), "", "Connection Closed Gracefully.", {}},
        {"status line only fails", Once(ok), "", "Connection Closed Gracefully.", {}},
        {"length not reached, orderly close",
         Once(ok + "Content-Length: 10\r\n\r\nabc"),
         "abc",
         "Connection Closed Gracefully.",
         {"begin 10", "work 3", "end"}},
        {"length not reached, reset",
         {Step::ExpectRequest(), Step::Reply(ok + "Content-Length: 10\r\n\r\nabc"), Step::Pause(100),
          Step::ResetConnection()},
         "abc",
         "Connection Closed Gracefully.",
         {"begin 10", "work 3", "end"}},
        {"chunked cut short",
         Once(ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhel"),
         "hel",
         "Connection Closed Gracefully.",
         {"begin 0", "work 3", "work 6", "end"}},
        {"chunked without its last chunk",
         Once(ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n"),
         "hi",
         "Connection Closed Gracefully.",
         {"begin 0", "work 3", "work 5", "work 7", "end"}},
        {"chunk too large for a stream",
         Once(ok + "Transfer-Encoding: chunked\r\n\r\n8000000000000000\r\n"),
         "",
         "Data is too large for stream",
         {"begin 0", "work 18", "end"}},
        {"no reply at all", Once(""), "", "Connection Closed Gracefully.", {}},
        {"status line too long",
         Once("HTTP/1.1 200 " + QByteArray(16400, 'x') + "\r\n\r\n"),
         "",
         "Max line length exceeded.",
         {}},
        {"header line too long",
         Once(ok + "X: " + QByteArray(16400, 'x') + "\r\n\r\n"),
         "",
         "Max line length exceeded.",
         {}},
        {"line of exactly the maximum",
         Once(ok + "X: " + QByteArray(16380, 'x') + "\r\nContent-Length: 1\r\n\r\n!"),
         "!",
         {},
         {"begin 1", "work 1", "end"}},
        {"too many header lines",
         Once(ok + QByteArray("X: 1\r\n").repeated(256) + "\r\n"),
         "",
         "Too many header lines.",
         {}},
        {"255 header lines",
         Once(ok + QByteArray("X: 1\r\n").repeated(254) + "Content-Length: 1\r\n\r\n!"),
         "!",
         {},
         {"begin 1", "work 1", "end"}},
    };
    for (const FramingCase &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({c.script});
        const Fetched fetched = Fetch(server.Url("/f"));
        EXPECT_EQ(fetched.error, c.error);
        EXPECT_EQ(fetched.body, c.body);
        EXPECT_EQ(fetched.sinkSize, c.body.size());
        EXPECT_EQ(fetched.events, c.events);
    }
}

struct StatusCase {
    QByteArray reply;
    QString error;
    int status;
    QStringList events;
};

TEST(HttpClient, FailsOnStatusesThatAreNoSuccess)
{
    const StatusCase cases[] = {
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 300\r\n\r\n" + QByteArray(300, 'n'),
         "HTTP/1.1 404 Not Found",
         404,
         {"begin 300", "work 300", "end"}},
        {"HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 302 Found", 302, {}},
        {"HTTP/1.1 301 Moved\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 301 Moved", 301, {}},
        {"HTTP/1.1 304 Not Modified\r\nLocation: /x\r\n\r\n", "HTTP/1.1 304 Not Modified", 304, {}},
        {"HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n",
         "HTTP/1.1 101 Switching Protocols",
         101,
         {}},
        {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: NTLM\r\nContent-Length: 2\r\n\r\nno",
         "HTTP/1.1 401 Unauthorized",
         401,
         {"begin 2", "work 2", "end"}},
        {"HTTP/1.1 407 Proxy\r\nProxy-Authenticate: Negotiate\r\n\r\nno",
         "HTTP/1.1 407 Proxy",
         407,
         {"begin 0", "work 2", "end"}},
        {"HTTP/1.1 500 Oops\r\nContent-Length: 9\r\n\r\nshort",
         "HTTP/1.1 500 Oops",
         500,
         {"begin 9", "work 5", "end"}},
        {"garbage\r\n\r\n", "garbage", -1, {"begin 0", "end"}},
        {"HTTP/1.1 2x0 Hm\r\n\r\n", "HTTP/1.1 2x0 Hm", -1, {"begin 0", "end"}},
    };
    for (const StatusCase &c : cases) {
        SCOPED_TRACE(c.reply.left(30).toStdString());
        ScriptedServer server({Once(c.reply)});
        const Fetched fetched = Fetch(server.Url("/f"));
        EXPECT_EQ(fetched.error, c.error);
        EXPECT_EQ(fetched.statusCode, c.status);
        EXPECT_EQ(fetched.events, c.events);
        EXPECT_EQ(fetched.sinkSize, 0);
    }
}

QByteArray Redirect(const QByteArray &location, const QByteArray &extra = "Content-Length: 0\r\n")
{
    return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\n" + extra + "\r\n";
}

TEST(HttpClient, FollowsRedirectsOnOneConnection)
{
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"b/c.zip", "/a/b/c.zip"},
        {"../c.zip", "/c.zip"},
        {"/c.zip", "/c.zip"},
        {"/x/../c.zip", "/x/../c.zip"},
        {"c.zip?v=2#top", "/a/c.zip?v=2"},
        {"/x\rEvil: 1", "/x%0DEvil:%201"},
        {"/\xE4\xB8\x8B\xE8\xBD\xBD.zip", "/%E4%B8%8B%E8%BD%BD.zip"},
        {"/\xC4\xE3.zip", "/%C4%E3.zip"},
    };
    for (const auto &[location, target] : cases) {
        ScriptedServer server({{Step::ExpectRequest(), Step::Reply(Redirect(location)), Step::ExpectRequest(),
                                Step::Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")}});
        HttpClient client;
        client.HandleRedirects = true;
        const Fetched fetched = Fetch(client, server.Url("/a/x.zip"));
        EXPECT_EQ(fetched.error, QString());
        EXPECT_EQ(fetched.body, "ok");
        ASSERT_EQ(server.Requests().size(), 2u);
        EXPECT_EQ(server.Requests()[1], HeadFor(target, server.Port()));
        EXPECT_EQ(server.Accepted(), 1);
    }
}

TEST(HttpClient, FollowsAnAbsoluteRedirectToAnotherServer)
{
    ScriptedServer target({Once("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nfile")});
    ScriptedServer first(
        {Once(Redirect(target.Url("/d/f.zip").toLatin1(), "Content-Length: 3\r\n") + "abc")});
    HttpClient client;
    client.HandleRedirects = true;
    const Fetched fetched = Fetch(client, first.Url("/x"));
    EXPECT_EQ(fetched.error, QString());
    EXPECT_EQ(fetched.body, "file");
    EXPECT_EQ(fetched.events, QStringList({"begin 3", "work 3", "end", "begin 4", "work 4", "end"}));
    ASSERT_EQ(target.Requests().size(), 1u);
    EXPECT_EQ(target.Requests()[0], HeadFor("/d/f.zip", target.Port()));
}

TEST(HttpClient, ReusesAConnectionOnlyWhenTheReplyAllows)
{
    const std::pair<QByteArray, int> cases[] = {
        {"HTTP/1.1 302 Found\r\nConnection: Close\r\n", 2},
        {"HTTP/1.0 302 Found\r\n", 2},
        {"HTTP/1.0 302 Found\r\nConnection: keep-alive\r\n", 1},
        {"HTTP/1.1 302 Found\r\n", 1},
    };
    for (const auto &[head, connections] : cases) {
        const Script reuse = {
            Step::ExpectRequest(), Step::Reply(head + "Location: /b\r\nContent-Length: 0\r\n\r\n"),
            Step::ExpectRequest(), Step::Reply("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n!")};
        // The server keeps its side open: only the client's own rule can make it reconnect.
        const Script fresh = {Step::ExpectRequest(),
                              Step::Reply(head + "Location: /b\r\nContent-Length: 0\r\n\r\n")};
        ScriptedServer server(
            connections == 1
                ? std::vector<Script>{reuse}
                : std::vector<Script>{fresh, Once("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n!")});
        HttpClient client;
        client.HandleRedirects = true;
        client.ReadTimeout = 2000;
        EXPECT_EQ(Fetch(client, server.Url("/a")).body, "!") << head.toStdString();
        EXPECT_EQ(server.Accepted(), connections) << head.toStdString();
    }
}

TEST(HttpClient, RedirectBodiesAreDiscardedAndTheSinkSetBack)
{
    // The second reply has no length: it is dropped uncounted until the server closes.
    ScriptedServer server(
        {{Step::ExpectRequest(), Step::Reply(Redirect("/b", "Content-Length: 4\r\n") + "junk"),
          Step::ExpectRequest(), Step::Reply("HTTP/1.1 302 Found\r\nLocation: /c\r\n\r\nmore junk"),
          Step::CloseOrderly()},
         Once("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")});
    HttpClient client;
    client.HandleRedirects = true;
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write("keep:");
    ByteSink sink(buffer);
    QStringList events;
    RecordProgress(client, events);
    client.Get(server.Url("/a"), sink);
    EXPECT_EQ(buffer.data(), "keep:ok");
    EXPECT_EQ(buffer.pos(), 7);
    EXPECT_EQ(events,
              QStringList({"begin 4", "work 4", "end", "begin 0", "end", "begin 2", "work 2", "end"}));
}

TEST(HttpClient, FollowsARedirectWhoseBodyWasCutShort)
{
    ScriptedServer server({Once(Redirect("/b", "Content-Length: 10\r\n") + "abc"),
                           Once("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")});
    HttpClient client;
    client.HandleRedirects = true;
    const Fetched fetched = Fetch(client, server.Url("/a"));
    EXPECT_EQ(fetched.error, QString());
    EXPECT_EQ(fetched.body, "ok");
    EXPECT_EQ(fetched.events, QStringList({"begin 10", "work 3", "end", "begin 2", "work 2", "end"}));
}

TEST(HttpClient, StopsAtTheRedirectMaximum)
{
    for (int maximum : {15, 3}) {
        Script script;
        for (int i = 0; i < maximum; ++i) {
            script.push_back(Step::ExpectRequest());
            script.push_back(Step::Reply(Redirect("/r" + QByteArray::number(i + 1))));
        }
        ScriptedServer server({script});
        HttpClient client;
        client.HandleRedirects = true;
        client.RedirectMaximum = maximum;
        const Fetched fetched = Fetch(client, server.Url("/r0"));
        EXPECT_EQ(fetched.error, u"Too many redirects."_qs);
        EXPECT_EQ(fetched.statusCode, 302);
        EXPECT_EQ(server.Requests().size(), static_cast<size_t>(maximum));
    }

    // The last redirect's body is discarded like those of the redirects followed before it.
    ScriptedServer server({Once("HTTP/1.1 302 Found\r\nLocation: /b\r\n\r\njunk")});
    HttpClient client;
    client.HandleRedirects = true;
    client.RedirectMaximum = 1;
    const Fetched fetched = Fetch(client, server.Url("/a"));
    EXPECT_EQ(fetched.error, u"Too many redirects."_qs);
    EXPECT_EQ(fetched.events, QStringList({"begin 0", "end"}));
}

TEST(HttpClient, CarriesCookiesAcrossRedirectHops)
{
    ScriptedServer server({{
        Step::ExpectRequest(),
        Step::Reply("HTTP/1.1 100 Continue\r\nSet-Cookie: early=1\r\n\r\n" +
                    Redirect("y.zip", "Set-Cookie: s=1\r\nSet-Cookie: gone=1\r\nContent-Length: 0\r\n")),
        Step::ExpectRequest(),
        Step::Reply(Redirect("/z.zip", "Set-Cookie: gone=0; Max-Age=-1\r\n"
                                       "Set-Cookie: foreign=1; Domain=example.com\r\nContent-Length: 0\r\n")),
        Step::ExpectRequest(),
        Step::Reply(Redirect("/a/w.zip")),
        Step::ExpectRequest(),
        Step::Reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"),
    }});
    HttpClient client;
    client.HandleRedirects = true;
    EXPECT_EQ(Fetch(client, server.Url("/a/x.zip")).error, QString());
    const std::vector<QByteArray> requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0], HeadFor("/a/x.zip", server.Port()));
    EXPECT_EQ(requests[1], HeadFor("/a/y.zip", server.Port(), "Cookie: early=1; s=1; gone=1\r\n"));
    EXPECT_EQ(requests[2], HeadFor("/z.zip", server.Port()));
    EXPECT_EQ(requests[3], HeadFor("/a/w.zip", server.Port(), "Cookie: early=1; s=1\r\n"));
}

TEST(HttpClient, ReportsOneProgressStepPerReceive)
{
    ScriptedServer server(
        {{Step::ExpectRequest(), Step::Reply("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd"),
          Step::Pause(150), Step::Reply("efg"), Step::Pause(150), Step::Reply("hijEXTRA")}});
    EXPECT_EQ(Fetch(server.Url("/")).events, QStringList({"begin 10", "work 4", "work 7", "work 10", "end"}));

    const QByteArray big(100000, 'b');
    ScriptedServer bigServer({Once("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + big)});
    const Fetched fetched = Fetch(bigServer.Url("/"));
    EXPECT_EQ(fetched.body, big);
    ASSERT_GE(fetched.events.size(), 6);
    EXPECT_EQ(fetched.events.front(), u"begin 100000"_qs);
    EXPECT_EQ(fetched.events[fetched.events.size() - 2], u"work 100000"_qs);
    qint64 previous = 0;
    for (qsizetype i = 1; i + 1 < fetched.events.size(); ++i) {
        const qint64 count = fetched.events[i].section(u' ', 1).toLongLong();
        EXPECT_GT(count, previous);
        EXPECT_LE(count - previous, 32768);
        previous = count;
    }
}

TEST(HttpClient, CallbackErrorsPassThroughAfterWorkEnd)
{
    ScriptedServer server({Once("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")});
    HttpClient client;
    QStringList events;
    RecordProgress(client, events);
    client.OnWork = [&events](HttpClient &, TWorkMode, qint64) {
        events << "work";
        throw Failure("EAbort", "stopped by the user");
    };
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    ByteSink sink(buffer);
    try {
        client.Get(server.Url("/"), sink);
        ADD_FAILURE() << "Get succeeded";
    } catch (const TransferError &) {
        ADD_FAILURE() << "callback error replaced";
    } catch (const Failure &failure) {
        EXPECT_EQ(failure.Kind(), u"EAbort"_qs);
    }
    EXPECT_EQ(events, QStringList({"begin 5", "work", "end"}));

    ScriptedServer second({Once("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")});
    events.clear();
    RecordProgress(client, events);
    client.OnWorkBegin = [](HttpClient &, TWorkMode, qint64) { throw Failure("EAbort", "no"); };
    EXPECT_THROW(client.Get(second.Url("/"), sink), Failure);
    EXPECT_EQ(events, QStringList());
}

TEST(HttpClient, GrowsAFileSinkToTheAnnouncedLength)
{
    ScriptedServer server(
        {{Step::ExpectRequest(),
          Step::Reply("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + QByteArray(600, 'f')),
          Step::CloseOrderly()}});
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    HttpClient client;
    std::vector<qint64> sizesSeen;
    client.OnWork = [&](HttpClient &, TWorkMode, qint64) {
        sizesSeen.push_back(QFileInfo(file.fileName()).size());
    };
    ByteSink sink(file);
    EXPECT_THROW(client.Get(server.Url("/"), sink), TransferError);
    file.flush();
    EXPECT_EQ(sizesSeen, std::vector<qint64>({1000}));
    EXPECT_EQ(file.size(), 600);
    EXPECT_EQ(file.pos(), 600);
}

TEST(HttpClient, FailsWhenTheFileCannotTakeTheBody)
{
    // /dev/full takes writes into the file's buffer and refuses them on the way to disk.
    ScriptedServer server({Once("HTTP/1.1 200 OK\r\n\r\nabc")});
    QFile full("/dev/full");
    ASSERT_TRUE(full.open(QIODevice::WriteOnly));
    ByteSink sink(full);
    HttpClient client;
    try {
        client.Get(server.Url("/"), sink);
        ADD_FAILURE() << "Get succeeded";
    } catch (const Failure &failure) {
        EXPECT_EQ(failure.Kind(), u"EWriteError"_qs);
    }
}

TEST(HttpClient, RefusesABodyBeyondWhatTheSinkCanAddress)
{
    ScriptedServer server({Once("HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775800\r\n\r\nabc")});
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write("0123456789");
    ByteSink sink(buffer);
    HttpClient client;
    try {
        client.Get(server.Url("/"), sink);
        ADD_FAILURE() << "Get succeeded";
    } catch (const TransferError &error) {
        EXPECT_EQ(error.Message(), u"Data is too large for stream"_qs);
    }
    EXPECT_EQ(buffer.data(), "0123456789");
}

TEST(HttpClient, BoundsEveryWait)
{
    ScriptedServer silent({{Step::ExpectRequest(), Step::Pause(600)}});
    ScriptedServer stalling(
        {{Step::ExpectRequest(), Step::Reply("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc"),
          Step::Pause(600)}});
    for (const ScriptedServer *server : {&silent, &stalling}) {
        HttpClient client;
        client.ReadTimeout = 150;
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(Fetch(client, server->Url("/")).error, u"Read timed out."_qs);
        EXPECT_LT(timer.elapsed(), 500);
    }

    // A listener whose accept queue is full leaves further connects unanswered.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    HttpClient client;
    client.ConnectTimeout = 200;
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(Fetch(client, QStringLiteral("http://127.0.0.1:%1/").arg(ntohs(address.sin_port))).error,
              u"Connect timed out."_qs);
    EXPECT_LT(timer.elapsed(), 1000);
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);
}

TEST(HttpClient, ReportsSocketErrorsByNumber)
{
    quint16 closedPort;
    {
        ScriptedServer gone({});
        closedPort = gone.Port();
    }
    EXPECT_EQ(Fetch(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort)).error,
              u"Socket Error # 10061\r\nConnection refused."_qs);
    EXPECT_EQ(Fetch(u"http://no-such-host.invalid/"_qs).error, u"Socket Error # 11001\r\nHost not found."_qs);
}

TEST(HttpClient, RefusesAddressesItCannotReach)
{
    const std::pair<QString, QString> cases[] = {
        {"host/file", "Unknown Protocol"},
        {"ftp://h/file", "Unknown Protocol"},
        {"http:///file", "A Host is required"},
        {"http://127.0.0.1:0/file", "A Port is required"},
        {"http://127.0.0.1:65536/file", "A Port is required"},
    };
    for (const auto &[address, error] : cases)
        EXPECT_EQ(Fetch(address).error, error) << address.toStdString();
}

TEST(HttpClient, DisconnectIsHarmlessWhenRepeated)
{
    ScriptedServer server(
        {{Step::ExpectRequest(), Step::Reply("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n!")}});
    HttpClient client;
    client.Disconnect();
    EXPECT_EQ(Fetch(client, server.Url("/")).body, "!");
    client.Disconnect();
    client.Disconnect();
}

} // namespace
