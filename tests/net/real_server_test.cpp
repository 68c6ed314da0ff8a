// Against servers nobody here wrote: Python's http.server, plain and over TLS, and Debian's
// tinyproxy in front of it.
#include "fetch_helper.h"
#include "process_rules.h"
#include "proxy_rules.h"
#include "python_server.h"
#include "qt_print.h"
#include "test_authorities.h"
#include "tiny_proxy.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

QByteArray RandomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(20260309);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class RealServer : public testing::Test {
protected:
    void SetUp() override
    {
        content_ = RandomBytes(6 * 1024 * 1024 + 123);
        WriteFile(root_.filePath("big.bin"), content_);
        WriteFile(root_.filePath("small.txt"), "small file\n");
    }

    QTemporaryDir root_;
    QByteArray content_;
};

TEST_F(RealServer, DownloadsAMultiMegabyteFileIntoAFile)
{
    PythonServer server(root_.path());
    ASSERT_NE(server.Port(), 0);
    QTemporaryDir out;
    QFile file(out.filePath("big.bin.tmp"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    HttpClient client;
    client.HandleRedirects = true;
    qint64 announced = -1, last = 0, steps = 0;
    client.OnWorkBegin = [&](HttpClient &, TWorkMode, qint64 max) { announced = max; };
    client.OnWork = [&](HttpClient &, TWorkMode, qint64 count) {
        EXPECT_LE(count - last, 32768);
        last = count;
        ++steps;
    };
    ByteSink sink(file);
    client.Get(server.Url("/big.bin"), sink);
    client.Disconnect();
    file.close();
    EXPECT_EQ(announced, content_.size());
    EXPECT_EQ(last, content_.size());
    EXPECT_GE(steps, content_.size() / 32768);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == content_);
}

TEST_F(RealServer, FollowsARedirectChainAndReportsA404)
{
    PythonServer server(root_.path());
    HttpClient client;
    client.HandleRedirects = true;
    Fetched fetched = Fetch(client, server.Url("/redirect/4/small.txt"));
    EXPECT_EQ(fetched.error, QString());
    EXPECT_EQ(fetched.body, "small file\n");

    HttpClient plain;
    fetched = Fetch(plain, server.Url("/redirect/0/small.txt"));
    EXPECT_EQ(fetched.error, u"HTTP/1.0 302 Found"_qs);

    fetched = Fetch(server.Url("/missing.zip"));
    EXPECT_EQ(fetched.error, u"HTTP/1.0 404 File not found"_qs);
    EXPECT_EQ(fetched.statusCode, 404);
    EXPECT_EQ(fetched.sinkSize, 0);
}

// Certificates made with the openssl command for this run.
class Tls : public RealServer {
protected:
    static void SetUpTestSuite() { authorities_ = new TestAuthorities; }
    static void TearDownTestSuite() { delete authorities_; }
    static QStringList Files(const QString &name) { return authorities_->Files(name); }

    static inline TestAuthorities *authorities_ = nullptr;
};

TEST_F(Tls, DownloadsFromATrustedServer)
{
    PythonServer server(root_.path(), Files("good"));
    const Fetched fetched = Fetch(server.Url("/big.bin", "https", "localhost"));
    EXPECT_EQ(fetched.error, QString());
    EXPECT_TRUE(fetched.body == content_);
}

TEST_F(Tls, RefusesAnUntrustedOrMisnamedServer)
{
    PythonServer unknown(root_.path(), Files("unknown"));
    Fetched fetched = Fetch(unknown.Url("/small.txt", "https", "localhost"));
    EXPECT_TRUE(fetched.error.startsWith("TLS handshake with localhost failed: "))
        << fetched.error.toStdString();
    EXPECT_TRUE(fetched.error.contains("issuer certificate")) << fetched.error.toStdString();
    EXPECT_EQ(fetched.sinkSize, 0);

    PythonServer misnamed(root_.path(), Files("misnamed"));
    fetched = Fetch(misnamed.Url("/small.txt", "https", "localhost"));
    EXPECT_TRUE(fetched.error.contains("host name did not match")) << fetched.error.toStdString();
}

TEST_F(Tls, RedirectsCrossBetweenHttpAndHttps)
{
    PythonServer secure(root_.path(), Files("good"));
    PythonServer plain(root_.path());
    HttpClient client;
    client.HandleRedirects = true;
    const QString toPlain =
        secure.Url("/to?" + QUrl::toPercentEncoding(plain.Url("/small.txt")), "https", "localhost");
    Fetched fetched = Fetch(client, plain.Url("/to?" + QUrl::toPercentEncoding(toPlain)));
    EXPECT_EQ(fetched.error, QString());
    EXPECT_EQ(fetched.body, "small file\n");
}

TEST_F(RealServer, PlainHttpThroughAProxyArrivesByteExact)
{
    PythonServer server(root_.path());
    TinyProxy proxy;
    const ProcessRules rules(ProxyRules::Fixed(proxy.Address(), {}));
    const Fetched fetched = Fetch(server.Url("/big.bin"));
    EXPECT_EQ(fetched.error, QString());
    EXPECT_TRUE(fetched.body == content_);
    EXPECT_TRUE(proxy.Log().contains(QStringLiteral("GET %1 HTTP/1.1").arg(server.Url("/big.bin"))))
        << proxy.Log().toStdString();
}

TEST_F(RealServer, ARedirectToAHostTheListExemptsGoesDirect)
{
    PythonServer server(root_.path());
    TinyProxy proxy;
    const ProcessRules rules(ProxyRules::Fixed(proxy.Address(), QStringLiteral("localhost")));
    HttpClient client;
    client.HandleRedirects = true;
    const QString direct = server.Url("/small.txt", "http", "localhost");
    const Fetched fetched = Fetch(client, server.Url("/to?" + QUrl::toPercentEncoding(direct)));
    EXPECT_EQ(fetched.error, QString());
    EXPECT_EQ(fetched.body, "small file\n");
    EXPECT_TRUE(proxy.Log().contains(QStringLiteral("GET %1").arg(server.Url("/to?"))))
        << proxy.Log().toStdString();
    EXPECT_FALSE(proxy.Log().contains(QStringLiteral("GET http://localhost"))) << proxy.Log().toStdString();
}

TEST_F(RealServer, AProxyWithCredentialsTakesTheOnesInItsAddress)
{
    PythonServer server(root_.path());
    TinyProxy proxy(QStringLiteral("installer"), QStringLiteral("s3cr3t"));
    const QString name = QStringLiteral("127.0.0.1:%1").arg(proxy.Port());
    const QString required = QStringLiteral("Proxy authentication required by ") + name;
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("installer:s3cr%33t"), QString()}, // percent-decoded
        {QString(), required},
        // Refused credentials: tinyproxy says 401, any other status would do.
        {QStringLiteral("installer:wrong"), QStringLiteral("*")},
    };
    for (const auto &[credentials, error] : cases) {
        SCOPED_TRACE(credentials.toStdString());
        const ProcessRules rules(ProxyRules::Fixed(proxy.Address(credentials), {}));
        const Fetched fetched = Fetch(server.Url("/small.txt"));
        if (error == u"*")
            EXPECT_FALSE(fetched.error.isEmpty());
        else
            EXPECT_EQ(fetched.error, error);
        EXPECT_FALSE(fetched.error.contains(QStringLiteral("wrong")));
        EXPECT_EQ(fetched.body, error.isEmpty() ? QByteArray("small file\n") : QByteArray());
    }
}

TEST_F(Tls, HttpsGoesThroughAProxyTunnelWithTheSameChecks)
{
    PythonServer good(root_.path(), Files("good"));
    PythonServer misnamed(root_.path(), Files("misnamed"));
    TinyProxy proxy(QStringLiteral("installer"), QStringLiteral("pass"));
    const ProcessRules rules(ProxyRules::Fixed(proxy.Address("installer:pass"), {}));
    Fetched fetched = Fetch(good.Url("/big.bin", "https", "localhost"));
    EXPECT_EQ(fetched.error, QString());
    EXPECT_TRUE(fetched.body == content_);
    EXPECT_TRUE(proxy.Log().contains(QStringLiteral("CONNECT localhost:%1").arg(good.Port())))
        << proxy.Log().toStdString();

    fetched = Fetch(misnamed.Url("/small.txt", "https", "localhost"));
    EXPECT_TRUE(fetched.error.contains("host name did not match")) << fetched.error.toStdString();

    const ProcessRules withoutCredentials(ProxyRules::Fixed(proxy.Address(), {}));
    fetched = Fetch(good.Url("/small.txt", "https", "localhost"));
    EXPECT_EQ(fetched.error,
              QStringLiteral("Proxy authentication required by 127.0.0.1:%1").arg(proxy.Port()));
}

} // namespace
