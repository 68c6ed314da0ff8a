#include "service_replies.h"

#include <gtest/gtest.h>

namespace {

QString Q(const char16_t *text)
{
    return QString::fromUtf16(text);
}

TEST(Queries, CarryPackageAndVersionIds)
{
    EXPECT_EQ(VersionListQuery(Q(u"http://s/v.php"), Q(u"demo")),
              Q(u"http://s/v.php?pid=demo&act=list&fee=1"));
    EXPECT_EQ(DownloadLookupQuery(Q(u"http://s/v.php"), Q(u"demo"), Q(u"17")),
              Q(u"http://s/v.php?pid=demo&act=down&vid=17&fee=1"));
}

struct EncodingCase {
    const char16_t *value;
    const char *encoded;
};

class QueryValues : public testing::TestWithParam<EncodingCase> {};

TEST_P(QueryValues, EscapeWhatWouldChangeTheQuery)
{
    const QString query = DownloadLookupQuery(Q(u"http://s/v"), Q(u"p"), Q(GetParam().value));
    EXPECT_EQ(query, Q(u"http://s/v?pid=p&act=down&vid=") + QLatin1String(GetParam().encoded) + Q(u"&fee=1"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, QueryValues,
    testing::Values(EncodingCase{u"abc-1.2_3~", "abc-1.2_3~"},
                    EncodingCase{u"\r\n7", "%0D%0A7"}, // a line break after "|" in the reply
                    EncodingCase{u"a&act=list", "a%26act%3Dlist"}, EncodingCase{u"x y#z", "x%20y%23z"},
                    EncodingCase{u"50%+1", "50%25%2B1"}, EncodingCase{u"/?:@", "%2F%3F%3A%40"},
                    EncodingCase{u"版本", "%E7%89%88%E6%9C%AC"}, EncodingCase{u"", ""}));

TEST(Queries, EncodeThePackageIdToo)
{
    EXPECT_EQ(VersionListQuery(Q(u"http://s/v"), Q(u"a b&c")), Q(u"http://s/v?pid=a%20b%26c&act=list&fee=1"));
}

struct NoticeCase {
    const char16_t *fetched;
    const char16_t *kept;
};

class Notices : public testing::TestWithParam<NoticeCase> {};

TEST_P(Notices, AreKeptTrimmedOnlyWithThePhrase)
{
    EXPECT_EQ(KeptNotice(Q(GetParam().fetched)), Q(GetParam().kept));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Notices,
    testing::Values(NoticeCase{u" \r\n安装有问题请加客服QQ 123\r\n ", u"安装有问题请加客服QQ 123"},
                    NoticeCase{u"请加客服", u"请加客服"}, NoticeCase{u"有问题请联系我们", u""},
                    NoticeCase{u"请加 客服", u""},
                    NoticeCase{u"\uFEFF请加客服", u"\uFEFF请加客服"}, // a BOM is not a blank
                    NoticeCase{u"", u""}));

struct ListCase {
    const char16_t *reply;
    std::vector<std::pair<const char16_t *, const char16_t *>> entries;
    std::vector<int> malformed;
};

class VersionLists : public testing::TestWithParam<ListCase> {};

TEST_P(VersionLists, KeepEveryWellFormedEntryInOrder)
{
    const VersionList list = ParseVersionList(Q(GetParam().reply));
    ASSERT_EQ(list.entries.size(), qsizetype(GetParam().entries.size()));
    for (size_t i = 0; i < GetParam().entries.size(); ++i) {
        EXPECT_EQ(list.entries[i].id, Q(GetParam().entries[i].first)) << i;
        EXPECT_EQ(list.entries[i].text, Q(GetParam().entries[i].second)) << i;
    }
    std::vector<int> malformed;
    for (const MalformedEntry &m : list.malformed)
        malformed.push_back(m.index);
    EXPECT_EQ(malformed, GetParam().malformed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionLists,
    testing::Values(ListCase{u"", {}, {}}, ListCase{u" \r\n\t ", {}, {}},
                    ListCase{u"1`版本一|2`版本二", {{u"1", u"版本一"}, {u"2", u"版本二"}}, {}},
                    ListCase{u"\r\n1`A|\r\n2`B\r\n", {{u"1", u"A"}, {u"\r\n2", u"B"}}, {}},
                    ListCase{u"1`A`ignored`too", {{u"1", u"A"}}, {}},
                    ListCase{u"`no id|7`", {{u"", u"no id"}, {u"7", u""}}, {}},
                    ListCase{u"1`A|", {{u"1", u"A"}}, {1}}, ListCase{u"|1`A", {{u"1", u"A"}}, {0}},
                    ListCase{u"1`A||2`B", {{u"1", u"A"}, {u"2", u"B"}}, {1}},
                    ListCase{u"1`A|junk|3`C", {{u"1", u"A"}, {u"3", u"C"}}, {1}},
                    ListCase{u"1`A|1`A", {{u"1", u"A"}, {u"1", u"A"}}, {}}, ListCase{u"only text", {}, {0}}));

struct LookupCase {
    const char16_t *reply;
    LookupVerdict::Kind kind;
    const char16_t *text;
};

class LookupReplies : public testing::TestWithParam<LookupCase> {};

TEST_P(LookupReplies, AreJudgedAsTheFlowNeeds)
{
    const LookupVerdict verdict = JudgeLookupReply(Q(GetParam().reply));
    EXPECT_EQ(verdict.kind, GetParam().kind);
    EXPECT_EQ(verdict.text, Q(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LookupReplies,
    testing::Values(
        LookupCase{u"http://h/a.zip", LookupVerdict::Accepted, u"http://h/a.zip"},
        LookupCase{u" \r\nHTTP://H/A.zip \n", LookupVerdict::Accepted, u"HTTP://H/A.zip"},
        LookupCase{u"http://h/errors/a.zip", LookupVerdict::ServiceError, u"http://h/errors/a.zip"},
        LookupCase{u"ERROR: 版本已下架", LookupVerdict::ServiceError, u"ERROR: 版本已下架"},
        LookupCase{u"eRRor", LookupVerdict::ServiceError, u"eRRor"},
        LookupCase{u"https://h/a.zip", LookupVerdict::Accepted, u"https://h/a.zip"},
        LookupCase{u"\tHtTpS://H/A.zip", LookupVerdict::Accepted, u"HtTpS://H/A.zip"},
        LookupCase{u"https:/h/a.zip", LookupVerdict::Refused, u"https:/h/a.zip"},
        LookupCase{u"httpss://h/a.zip", LookupVerdict::Refused, u"httpss://h/a.zip"},
        LookupCase{u"https://h/\"../x.zip\"", LookupVerdict::Refused, u"https://h/\"../x.zip\""},
        LookupCase{u"ftp://h/a.zip", LookupVerdict::Refused, u"ftp://h/a.zip"},
        LookupCase{u"http:/", LookupVerdict::Refused, u"http:/"},
        LookupCase{u"http://h/\"../../x.zip\"", LookupVerdict::Refused, u"http://h/\"../../x.zip\""},
        LookupCase{u"http://h/\"a b.zip\"", LookupVerdict::Accepted, u"http://h/\"a b.zip\""},
        LookupCase{u"", LookupVerdict::Refused, u""}));

} // namespace
