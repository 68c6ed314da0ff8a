#include "cookie_store.h"
#include "qt_print.h"

#include <gtest/gtest.h>

namespace {

const QDateTime Now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);

Address At(const QString &address)
{
    return MergeAddress({}, ParseAddress(address));
}

// Sets each cookie on the first address, then asks for the header of the second.
QString SentBack(const QStringList &setCookies, const QString &from, const QString &to,
                 const QDateTime &askedAt = Now)
{
    CookieStore store;
    for (const QString &value : setCookies)
        store.Take(value, At(from), Now);
    return store.HeaderFor(At(to), askedAt);
}

struct Case {
    const char *name;
    QStringList setCookies;
    const char *from;
    const char *to;
    const char *want;
};

TEST(CookieStore, SendsWhatMatches)
{
    const Case cases[] = {
        {"host-only, default path, same folder", {"s=1"}, "http://h/a/x.zip", "http://h/a/y.zip", "s=1"},
        // Set within one tick of the clock, as hops on a fast server are.
        {"a replacement keeps its place",
         {"a=1; Path=/", "b=2; Path=/", "a=3; Path=/"},
         "http://h/",
         "http://h/",
         "a=3; b=2"},
        {"default path does not cover the root", {"s=1"}, "http://h/a/x.zip", "http://h/z.zip", ""},
        {"default path covers subfolders", {"s=1"}, "http://h/a/x.zip", "http://h/a/b/y.zip", "s=1"},
        {"prefix that is not a folder", {"s=1; Path=/a"}, "http://h/", "http://h/ab/y", ""},
        {"path compared in any case", {"s=1; Path=/A/"}, "http://h/", "http://h/a/y", "s=1"},
        {"host-only is not sent to a subdomain", {"s=1"}, "http://h.example/", "http://x.h.example/", ""},
        {"domain cookie reaches subdomains",
         {"s=1; Domain=.Example.com"},
         "http://www.example.com/",
         "http://dl.example.com/",
         "s=1"},
        {"domain that does not match is refused",
         {"s=1; Domain=example.com"},
         "http://127.0.0.1/",
         "http://127.0.0.1/",
         ""},
        {"domain on an IP literal's suffix is refused",
         {"s=1; Domain=0.0.1"},
         "http://127.0.0.1/",
         "http://127.0.0.1/",
         ""},
        {"secure only over https", {"s=1; Secure"}, "https://h/", "http://h/", ""},
        {"secure sent over https", {"s=1; Secure"}, "https://h/", "https://h/", "s=1"},
        {"quotes dropped, spaces trimmed", {" s = \"v 1\" ; Path=/"}, "http://h/", "http://h/", "s=v 1"},
        {"empty name ignored", {"=v", "t"}, "http://h/", "http://h/", ""},
        {"longer path first, then older",
         {"a=1; Path=/", "b=2; Path=/x/y", "c=3; Path=/"},
         "http://h/",
         "http://h/x/y/z",
         "b=2; a=1; c=3"},
        {"same name, domain and path replaced", {"s=1", "s=2"}, "http://h/", "http://h/", "s=2"},
        {"negative max-age removes", {"s=1", "s=1; Max-Age=-1"}, "http://h/a/x", "http://h/a/y", ""},
        {"zero max-age removes", {"s=1", "t=2", "s=x; max-age=0"}, "http://h/", "http://h/", "t=2"},
        {"expired date removes",
         {"s=1", "s=1; Expires=Thu, 01 Jan 1970 00:00:01 GMT"},
         "http://h/",
         "http://h/",
         ""},
        {"future date keeps",
         {"s=1; Expires=Wed, 09 Jun 2100 10:18:14 GMT"},
         "http://h/",
         "http://h/",
         "s=1"},
        {"max-age wins over expires",
         {"s=1; Max-Age=60; Expires=Thu, 01 Jan 1970 00:00:01 GMT"},
         "http://h/",
         "http://h/",
         "s=1"},
        {"controls in a value refused",
         {"s=a\rSet-Evil: 1", "t=b\x01"
                              "c"},
         "http://h/",
         "http://h/",
         ""},
        {"tab in a value allowed", {"s=a\tb"}, "http://h/", "http://h/", "s=a\tb"},
        {"host compared in any case", {"s=1"}, "http://H/", "http://h/", "s=1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SentBack(c.setCookies, QLatin1String(c.from), QLatin1String(c.to)), QLatin1String(c.want));
    }
}

TEST(CookieStore, ForgetsCookiesOnceExpired)
{
    EXPECT_EQ(SentBack({"s=1; Max-Age=60"}, "http://h/", "http://h/", Now.addSecs(59)), u"s=1"_qs);
    EXPECT_EQ(SentBack({"s=1; Max-Age=60"}, "http://h/", "http://h/", Now.addSecs(60)), QString());
    EXPECT_EQ(SentBack({"s=1; Expires=120"}, "http://h/", "http://h/", Now.addSecs(100)), u"s=1"_qs);
    EXPECT_EQ(SentBack({"s=1"}, "http://h/", "http://h/", Now.addYears(500)), u"s=1"_qs);
}

TEST(CookieDate, ReadsTheCommonFormsAndRefusesTheRest)
{
    const QDateTime want(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
    EXPECT_EQ(ParseCookieDate(u"Sun, 06 Nov 1994 08:49:37 GMT"_qs), want);
    EXPECT_EQ(ParseCookieDate(u"Sunday, 06-Nov-94 08:49:37 GMT"_qs), want);
    EXPECT_EQ(ParseCookieDate(u"Sun Nov  6 08:49:37 1994"_qs), want);
    EXPECT_FALSE(ParseCookieDate(u"Sun, 31 Feb 1994 08:49:37 GMT"_qs).isValid());
    EXPECT_FALSE(ParseCookieDate(u"Sun, 06 Nov 1994 GMT"_qs).isValid());
    EXPECT_FALSE(ParseCookieDate(u"tomorrow"_qs).isValid());
}

} // namespace
