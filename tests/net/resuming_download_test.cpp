// A download whose connection drops is tried again, resuming where the server allows it, and
// always ends byte-exact.
#include "qt_print.h"
#include "resuming_download.h"
#include "scripted_server.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

QByteArray Pattern(qsizetype size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(seed + i * 7 + i / 251);
    return bytes;
}

const QByteArray Body = Pattern(10000, 'a');
const QByteArray OtherBody = Pattern(9000, 'q');

QByteArray Full(const QByteArray &body, const QByteArray &validators)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" + validators +
           "\r\n" + body;
}

QByteArray Partial(const QByteArray &body, qsizetype from, qsizetype rangeStart)
{
    return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(rangeStart) + "-" +
           QByteArray::number(body.size() - 1) + "/" + QByteArray::number(body.size()) +
           "\r\nContent-Length: " + QByteArray::number(body.size() - from) + "\r\n\r\n" + body.mid(from);
}

struct Outcome {
    QByteArray body;
    QString error;
    std::vector<QByteArray> requests;
    QStringList progress; // "begin N" and the last "work N" of each try
};

Outcome Download(const std::vector<Script> &connections, int retries = 5)
{
    ScriptedServer server(connections);
    ResumingDownload download;
    download.Retries = retries;
    download.RetryWaitsMs = {1};
    Outcome outcome;
    download.OnWorkBegin = [&](HttpClient &, TWorkMode, qint64 max) {
        outcome.progress << QStringLiteral("begin %1").arg(max);
    };
    download.OnWork = [&](HttpClient &, TWorkMode, qint64 count) {
        if (!outcome.progress.isEmpty() && outcome.progress.last().startsWith(u"work"))
            outcome.progress.removeLast();
        outcome.progress << QStringLiteral("work %1").arg(count);
    };
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    ByteSink sink(buffer);
    try {
        download.Get(server.Url("/setup.zip"), sink);
    } catch (const TransferError &error) {
        outcome.error = error.Message();
    }
    outcome.body = buffer.data();
    outcome.requests = server.Requests();
    return outcome;
}

Script CutAfter(const QByteArray &validators, qsizetype cut)
{
    return {Step::ExpectRequest(),
            Step::Reply(Full(Body, validators).left(Full(Body, validators).size() - Body.size() + cut)),
            Step::CloseOrderly()};
}

Script Answer(const QByteArray &reply)
{
    return {Step::ExpectRequest(), Step::Reply(reply), Step::CloseOrderly()};
}

struct ResumeCase {
    const char *name;
    QByteArray validators; // of the first reply
    // The second try's reply (and a third try's, when the second cannot continue), given
    // where the first was cut.
    std::function<std::vector<QByteArray>(qsizetype cut)> later;
    QByteArray ifRange; // sent with the Range on the second try; empty: no Range at all
    QByteArray finalBody;
};

const QByteArray Strong = "Accept-Ranges: bytes\r\nETag: \"v1\"\r\n";
const QByteArray DateOnly = "Accept-Ranges: bytes\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n";

TEST(ResumingDownload, EndsByteExactWhereverTheConnectionDropped)
{
    const ResumeCase cases[] = {
        {"ETag", Strong, [](qsizetype cut) { return std::vector{Partial(Body, cut, cut)}; }, "\"v1\"", Body},
        {"Last-Modified only", DateOnly, [](qsizetype cut) { return std::vector{Partial(Body, cut, cut)}; },
         "Tue, 01 Dec 2026 10:00:00 GMT", Body},
        {"no validator",
         "Accept-Ranges: bytes\r\n",
         [](qsizetype) { return std::vector{Full(Body, {})}; },
         {},
         Body},
        {"weak ETag only",
         "Accept-Ranges: bytes\r\nETag: W/\"v1\"\r\n",
         [](qsizetype) { return std::vector{Full(Body, {})}; },
         {},
         Body},
        {"no Accept-Ranges",
         "ETag: \"v1\"\r\n",
         [](qsizetype) { return std::vector{Full(Body, {})}; },
         {},
         Body},
        {"range answered with 200", Strong, [](qsizetype) { return std::vector{Full(Body, Strong)}; },
         "\"v1\"", Body},
        {"wrong Content-Range", Strong,
         [](qsizetype cut) {
             return std::vector{Partial(Body, cut, cut + 5), Full(Body, Strong)};
         },
         "\"v1\"", Body},
        {"416", Strong,
         [](qsizetype) {
             return std::vector{QByteArray("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n"),
                                Full(Body, Strong)};
         },
         "\"v1\"", Body},
        {"changed ETag", Strong, [](qsizetype) { return std::vector{Full(OtherBody, "ETag: \"v2\"\r\n")}; },
         "\"v1\"", OtherBody},
    };
    for (const ResumeCase &c : cases) {
        for (const qsizetype cut : {Body.size() / 100, Body.size() / 2, Body.size() * 99 / 100}) {
            SCOPED_TRACE(QStringLiteral("%1, cut at %2").arg(QLatin1String(c.name)).arg(cut).toStdString());
            std::vector<Script> connections{CutAfter(c.validators, cut)};
            const std::vector<QByteArray> later = c.later(cut);
            for (const QByteArray &reply : later)
                connections.push_back(Answer(reply));
            const Outcome outcome = Download(connections);
            EXPECT_EQ(outcome.error, QString());
            EXPECT_TRUE(outcome.body == c.finalBody) << "body of " << outcome.body.size() << " bytes";
            ASSERT_EQ(outcome.requests.size(), later.size() + 1);
            // The second try is the first request, plus the Range lines when it resumes.
            const QByteArray rangeLines = c.ifRange.isEmpty() ? QByteArray()
                                                              : "Range: bytes=" + QByteArray::number(cut) +
                                                                    "-\r\nIf-Range: " + c.ifRange + "\r\n";
            QByteArray expected = outcome.requests[0];
            expected.insert(expected.indexOf("\r\n\r\n") + 2, rangeLines);
            EXPECT_EQ(outcome.requests[1], expected);
            // A try that starts over asks for the whole body.
            for (size_t i = 2; i < outcome.requests.size(); ++i)
                EXPECT_EQ(outcome.requests[i], outcome.requests[0]);
        }
    }
}

TEST(ResumingDownload, ProgressGoesOnFromTheBytesAlreadyThere)
{
    const qsizetype cut = 4000;
    const Outcome outcome = Download({CutAfter(Strong, cut), Answer(Partial(Body, cut, cut))});
    EXPECT_EQ(outcome.error, QString());
    EXPECT_EQ(outcome.progress,
              QStringList({"begin 10000", QStringLiteral("work %1").arg(cut), "begin 10000", "work 10000"}));
}

TEST(ResumingDownload, RetriesOnlyWhatALaterTryCanMend)
{
    const std::pair<QByteArray, int> cases[] = {
        {"HTTP/1.1 404 Not Found", 1},
        {"HTTP/1.1 403 Forbidden", 1},
        {"HTTP/1.1 416 Range Not Satisfiable", 1},
        {"HTTP/1.1 503 Service Unavailable", 3},
        {"HTTP/1.1 500 Internal Server Error", 3},
        {"HTTP/1.1 429 Too Many Requests", 3},
        {"HTTP/1.1 408 Request Timeout", 3},
    };
    for (const auto &[status, tries] : cases) {
        SCOPED_TRACE(status.toStdString());
        const QByteArray reply = status + "\r\nContent-Length: 0\r\n\r\n";
        const Outcome outcome = Download({Answer(reply), Answer(reply), Answer(reply)}, 2);
        EXPECT_EQ(outcome.error, QString::fromLatin1(status));
        EXPECT_EQ(static_cast<int>(outcome.requests.size()), tries);
    }
}

TEST(ResumingDownload, WaitsBeforeEachRetryAndGivesUpAfterTheLast)
{
    ScriptedServer server({{Step::ExpectRequest(), Step::CloseOrderly()},
                           {Step::ExpectRequest(), Step::ResetConnection()},
                           {Step::ExpectRequest(), Step::CloseOrderly()}});
    ResumingDownload download;
    download.Retries = 2;
    download.RetryWaitsMs = {100, 200};
    QStringList retries;
    download.OnRetry = [&](int retry, const QString &reason, int waitMs) {
        retries << QStringLiteral("%1 %2 %3").arg(retry).arg(waitMs).arg(reason);
    };
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    ByteSink sink(buffer);
    QElapsedTimer clock;
    clock.start();
    try {
        download.Get(server.Url("/f"), sink);
        ADD_FAILURE() << "the download did not fail";
    } catch (const TransferError &error) {
        EXPECT_EQ(error.Message(), QStringLiteral("Connection Closed Gracefully."));
    }
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_EQ(retries,
              QStringList({"1 100 Connection Closed Gracefully.", "2 200 Connection Closed Gracefully."}));
    EXPECT_EQ(server.Accepted(), 3);
}

} // namespace
