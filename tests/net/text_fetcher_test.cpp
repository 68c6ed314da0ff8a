#include "failure.h"
#include "qt_print.h"
#include "scripted_server.h"
#include "text.h"
#include "text_fetcher.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char *name;
    QByteArray reply; // empty: nobody listens
    CodePage codePage;
    QString want;
};

TEST(FetchText, DecodesTheWholeBodyOrGivesNothing)
{
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    const Case cases[] = {
        {"utf-8", ok + "Content-Length: 6\r\n\r\n\xE4\xBD\xA0\xE5\xA5\xBD", CodePage::Utf8, u"你好"_qs},
        {"gbk", ok + "Content-Length: 4\r\n\r\n\xC4\xE3\xBA\xC3", CodePage::Gbk, u"你好"_qs},
        // The substitute is the platform's own (U+FFFD through ICU, "?" from Windows).
        {"gbk lead byte without its partner", ok + "Content-Length: 3\r\n\r\n\xC4\xE3\xBA", CodePage::Gbk,
         u"你"_qs + DecodeGbk("\xBA")},
        {"declared charset plays no part",
         ok + "Content-Type: text/html; charset=utf-8\r\nContent-Length: 4\r\n\r\n\xC4\xE3\xBA\xC3",
         CodePage::Gbk, u"你好"_qs},
        {"byte-order mark kept", ok + "Content-Length: 5\r\n\r\n\xEF\xBB\xBFhi", CodePage::Utf8,
         u"\uFEFFhi"_qs},
        {"NUL kept", ok + QByteArray("Content-Length: 3\r\n\r\na\0b", 24), CodePage::Utf8,
         QString::fromUtf16(u"a\0b", 3)},
        {"invalid utf-8",
         ok + "Content-Length: 3\r\n\r\na\xFF"
              "b",
         CodePage::Utf8,
         {}},
        {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", CodePage::Utf8, {}},
        {"redirect not followed",
         "HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 0\r\n\r\n",
         CodePage::Gbk,
         {}},
        {"empty", ok + "Content-Length: 0\r\n\r\n", CodePage::Utf8, {}},
        {"cut short", ok + "Content-Length: 10\r\n\r\nabc", CodePage::Gbk, {}},
        {"until close", ok + "\r\nabc", CodePage::Gbk, u"abc"_qs},
        {"unreachable", {}, CodePage::Utf8, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({{Step::ExpectRequest(), Step::Reply(c.reply), Step::CloseOrderly()}});
        const QString address = c.reply.isEmpty() ? u"http://127.0.0.1:1/"_qs : server.Url("/t");
        EXPECT_EQ(FetchText(address, c.codePage), c.want);
    }
}

// A server that sends without end, or declares a body of gigabytes, costs at most the bound
// in memory: the fetch fails then, as for any other failure.
TEST(FetchBytes, StopsAtTheBound)
{
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    const QByteArray full(LongestFetchedBody, 'b');
    const QByteArray longer = full + "b";
    const struct {
        const char *name;
        QByteArray reply;
        bool fetched;
    } cases[] = {
        {"exactly the bound", ok + "Content-Length: " + QByteArray::number(full.size()) + "\r\n\r\n" + full, true},
        {"until close, exactly the bound", ok + "\r\n" + full, true},
        {"a declared length past it", ok + "Content-Length: 40000000000\r\n\r\nbbbb", false},
        {"until close, past it", ok + "\r\n" + longer, false},
        {"chunked, past it",
         ok + "Transfer-Encoding: chunked\r\n\r\n" + QByteArray::number(longer.size(), 16) + "\r\n" + longer +
             "\r\n0\r\n\r\n",
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({{Step::ExpectRequest(), Step::Reply(c.reply), Step::CloseOrderly()}});
        try {
            const QByteArray body = FetchBytes(server.Url("/t"));
            EXPECT_TRUE(c.fetched);
            EXPECT_EQ(body.size(), full.size());
        } catch (const Failure &failure) {
            EXPECT_FALSE(c.fetched) << failure.Message().toStdString();
            EXPECT_TRUE(failure.Message().contains(u"larger than"_qs)) << failure.Message().toStdString();
        }
    }
}

} // namespace
