#include "address.h"
#include "qt_print.h"
#include "transfer_error.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
    const char16_t *text;
    Address want;
};

TEST(ParseAddress, SplitsIntoParts)
{
    const ParseCase cases[] = {
        {u"http://host", {"http", "", "", "host", "", "/", "", "", "", false}},
        {u"http://host?x=1", {"http", "", "", "host", "", "/", "", "x=1", "", false}},
        {u"http://host/a/b.txt?q=1#f", {"http", "", "", "host", "", "/a/", "b.txt", "q=1", "f", false}},
        {u"http://host/a/b#f?x", {"http", "", "", "host", "", "/a/", "b#f", "x", "", false}},
        {u"HTTP://u:p@host:8080/p", {"HTTP", "u", "p", "host", "8080", "/", "p", "", "", false}},
        {u"http://:p@host/", {"http", "", "", "host", "", "/", "", "", "", false}},
        {u"http://a@b@host/", {"http", "a@b", "", "host", "", "/", "", "", "", false}},
        {u"http://[::1]:81/x", {"http", "", "", "::1", "81", "/", "x", "", "", true}},
        {u"http:\\\\host\\a\\b.zip?c\\d",
         {"", "", "", "", "", "http:\\\\host/a/", "b.zip", "c\\d", "", false}},
        {u"http://host\\a\\b.zip?c\\d", {"http", "", "", "host", "", "/a/", "b.zip", "c\\d", "", false}},
        {u"b/c.zip", {"", "", "", "", "", "b/", "c.zip", "", "", false}},
        {u"../c.zip", {"", "", "", "", "", "../", "c.zip", "", "", false}},
        {u"c.zip", {"", "", "", "", "", "", "c.zip", "", "", false}},
        {u"/x/../c.zip", {"", "", "", "", "", "/x/../", "c.zip", "", "", false}},
        {u"/go?u=http://x/y", {"", "", "", "", "", "/", "go", "u=http://x/y", "", false}},
        {u"a/b://c", {"", "", "", "", "", "a/b://", "c", "", "", false}},
        {u"svn+ssh://h/r", {"svn+ssh", "", "", "h", "", "/", "r", "", "", false}},
    };
    for (const ParseCase &c : cases) {
        const Address got = ParseAddress(QString::fromUtf16(c.text));
        SCOPED_TRACE(QString::fromUtf16(c.text).toStdString());
        EXPECT_EQ(got.scheme, c.want.scheme);
        EXPECT_EQ(got.user, c.want.user);
        EXPECT_EQ(got.password, c.want.password);
        EXPECT_EQ(got.host, c.want.host);
        EXPECT_EQ(got.port, c.want.port);
        EXPECT_EQ(got.path, c.want.path);
        EXPECT_EQ(got.document, c.want.document);
        EXPECT_EQ(got.query, c.want.query);
        EXPECT_EQ(got.fragment, c.want.fragment);
        EXPECT_EQ(got.ipv6, c.want.ipv6);
    }
}

Address Resolve(std::initializer_list<const char16_t *> chain)
{
    Address current;
    for (const char16_t *text : chain)
        current = MergeAddress(current, ParseAddress(QString::fromUtf16(text)));
    return current;
}

struct ChainCase {
    std::initializer_list<const char16_t *> chain;
    const char *target;
    const char *host;
    quint16 port;
    bool tls;
};

TEST(MergeAddress, ResolvesRedirectTargets)
{
    const ChainCase cases[] = {
        {{u"http://host"}, "/", "host", 80, false},
        {{u"http://host?x=1"}, "/?x=1", "host", 80, false},
        {{u"http://host/a/b.txt?q=1#f"}, "/a/b.txt?q=1", "host", 80, false},
        {{u"http://host:8080/p"}, "/p", "host:8080", 8080, false},
        {{u"http://host:80/p"}, "/p", "host", 80, false},
        {{u"HTTP://host/p"}, "/p", "host", 80, false},
        {{u"https://host/p"}, "/p", "host", 443, true},
        {{u"https://host:443/p"}, "/p", "host", 443, true},
        {{u"http://host:443/p"}, "/p", "host:443", 443, false},
        {{u"http://h/a/x.zip", u"b/c.zip"}, "/a/b/c.zip", "h", 80, false},
        {{u"http://h/a/x.zip", u"../c.zip"}, "/c.zip", "h", 80, false},
        {{u"http://h/a/x.zip", u"/c.zip"}, "/c.zip", "h", 80, false},
        {{u"http://h/a/x.zip", u"/x/../c.zip"}, "/x/../c.zip", "h", 80, false},
        {{u"http://h/a/", u"b/c.zip"}, "/a/b/c.zip", "h", 80, false},
        {{u"http://h/a/x.zip", u"c.zip"}, "/a/c.zip", "h", 80, false},
        {{u"http://h/a/b/x.zip", u"../../../c.zip"}, "/c.zip", "h", 80, false},
        {{u"http://h/a/x.zip", u"b//c/"}, "/a/b/c/", "h", 80, false},
        {{u"http://h/a/x.zip", u"./c.zip"}, "/a/./c.zip", "h", 80, false},
        {{u"http://h:81/a/x.zip", u"c.zip?y"}, "/a/c.zip?y", "h:81", 81, false},
        {{u"https://h/a/x.zip", u"c.zip"}, "/a/c.zip", "h", 443, true},
        {{u"https://h/a/x.zip", u"http://g/c.zip"}, "/c.zip", "g", 80, false},
        {{u"http://h/x", u"https://g:8443/c.zip"}, "/c.zip", "g:8443", 8443, true},
        {{u"http://[::1]:81/a/x", u"y"}, "/a/y", "[::1]:81", 81, false},
        {{u"ftp://h:21/f"}, "/f", "h:21", 21, false},
        {{u"http://h:junk/f"}, "/f", "h", 80, false},
        {{u"http://h:70000/f"}, "/f", "h:4464", 4464, false},
        {{u"http://h:-1/f"}, "/f", "h:65535", 65535, false},
        {{u"http://h:3000000000/f"}, "/f", "h", 80, false},
    };
    for (const ChainCase &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(*(c.chain.end() - 1)).toStdString());
        const Address address = Resolve(c.chain);
        EXPECT_EQ(RequestTarget(address), QLatin1String(c.target));
        EXPECT_EQ(HostValue(address), QLatin1String(c.host));
        const ConnectionTarget target = TargetOf(address);
        EXPECT_EQ(target.port, c.port);
        EXPECT_EQ(target.tls, c.tls);
    }
}

TEST(MergeAddress, FailsWithoutAPort)
{
    for (const char16_t *text : {u"host/file", u"ftp://h/f", u"mailto:x@y"}) {
        try {
            MergeAddress({}, ParseAddress(QString::fromUtf16(text)));
            ADD_FAILURE() << "no failure for " << QString::fromUtf16(text).toStdString();
        } catch (const TransferError &error) {
            EXPECT_EQ(error.Message(), QStringLiteral("Unknown Protocol"));
        }
    }
}

TEST(RequestTarget, EscapesWhatARequestLineCannotCarry)
{
    const std::pair<const char16_t *, const char *> cases[] = {
        {u"http://h/下载/安装 包.zip", "/%E4%B8%8B%E8%BD%BD/%E5%AE%89%E8%A3%85%20%E5%8C%85.zip"},
        {u"http://h/a%20b.zip?x=%2F", "/a%20b.zip?x=%2F"},
        {u"http://h/100%.zip", "/100%.zip"},
        {u"http://h/a\r\nX-Evil: 1", "/a%0D%0AX-Evil:%201"},
        {u"http://h/\x7f\tz?q=é", "/%7F%09z?q=%C3%A9"},
        {u"http://h/😀", "/%F0%9F%98%80"},
    };
    for (const auto &[text, want] : cases)
        EXPECT_EQ(RequestTarget(MergeAddress({}, ParseAddress(QString::fromUtf16(text)))),
                  QLatin1String(want));
}

TEST(HostValue, UsesTheAsciiFormAndRefusesControls)
{
    EXPECT_EQ(HostValue(MergeAddress({}, ParseAddress(u"http://例子.测试/"_qs))),
              u"xn--fsqu00a.xn--0zwm56d"_qs);
    // A port that is no number is dropped: the connection goes to the scheme's port.
    EXPECT_EQ(HostValue(MergeAddress({}, ParseAddress(u"http://h:8\r\n0/"_qs))), u"h"_qs);
    EXPECT_EQ(HostValue(MergeAddress({}, ParseAddress(u"http://h:81x/"_qs))), u"h"_qs);
    EXPECT_EQ(HostValue(MergeAddress({}, ParseAddress(u"https://h:0443/"_qs))), u"h"_qs);
    EXPECT_THROW(HostValue(MergeAddress({}, ParseAddress(u"http://a\rb/"_qs))), TransferError);
    EXPECT_THROW(HostValue(MergeAddress({}, ParseAddress(u"http://a b/"_qs))), TransferError);
}

} // namespace
