// A network may cut a reply after any byte: however small the receives, a reply reads as it
// does when it arrives in one piece, with the same outcome and the same progress total.
#include "fetch_helper.h"
#include "memory_transport.h"
#include "qt_print.h"

#include <gtest/gtest.h>

namespace {

struct CutCase {
    const char *name;
    QByteArray reply;
    QByteArray body;
    QString error;
};

Fetched FetchInPieces(const QByteArray &reply, qsizetype pieceSize)
{
    HttpClient client;
    client.OpenTransport = [&] { return std::make_unique<MemoryTransport>(reply, pieceSize); };
    return Fetch(client, QStringLiteral("http://example.com/f"));
}

QString LastWork(const QStringList &events)
{
    for (qsizetype i = events.size() - 1; i >= 0; --i) {
        if (events[i].startsWith(u"work "))
            return events[i];
    }
    return {};
}

TEST(CutReply, ReadsTheSameInPiecesOfAnySize)
{
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    const QByteArray chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
    const QString closed = QStringLiteral("Connection Closed Gracefully.");
    const CutCase cases[] = {
        {"content length", ok + "Content-Length: 5\r\n\r\nhello", "hello", {}},
        {"chunked, extension and trailer", chunked + "5;a=b\r\nhello\r\n3\r\nabc\r\n0\r\nT: 1\r\n\r\n", "helloabc", {}},
        {"interim reply first", "HTTP/1.1 100 Continue\r\n\r\n" + ok + "Content-Length: 2\r\n\r\nhi", "hi", {}},
        {"until close", ok + "\r\nabc", "abc", {}},
        {"multipart ends at the closing boundary",
         ok + "Content-Type: multipart/byteranges; boundary=XY\r\n\r\n--XY\r\nA\r\n--XY--tail\r\nmore",
         "--XY\r\nA\r\n--XY--",
         {}},
        {"line of exactly the maximum", ok + "X: " + QByteArray(16380, 'x') + "\r\nContent-Length: 1\r\n\r\n!", "!", {}},
        {"line one byte longer", ok + "X: " + QByteArray(16381, 'x') + "\r\n\r\n", "", "Max line length exceeded."},
        {"head cut short", ok + "Content-Length: 2", "", closed},
        {"chunked cut short", chunked + "5\r\nhel", "hel", closed},
        {"chunk data past its size", chunked + "2\r\nabc\r\n0\r\n\r\n", "ab", closed},
    };
    for (const CutCase &c : cases) {
        SCOPED_TRACE(c.name);
        const Fetched whole = FetchInPieces(c.reply, Transport::ReceiveSize);
        EXPECT_EQ(whole.error, c.error);
        EXPECT_EQ(whole.body, c.body);
        EXPECT_EQ(whole.sinkSize, c.body.size());
        for (qsizetype pieceSize : {1, 2, 3, 7, 64}) {
            SCOPED_TRACE(pieceSize);
            const Fetched cut = FetchInPieces(c.reply, pieceSize);
            EXPECT_EQ(cut.error, whole.error);
            EXPECT_EQ(cut.body, whole.body);
            EXPECT_EQ(cut.sinkSize, whole.sinkSize);
            EXPECT_EQ(LastWork(cut.events), LastWork(whole.events));
        }
    }
}

} // namespace
