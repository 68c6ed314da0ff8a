#include "path_rules.h"

#include <gtest/gtest.h>

namespace {

struct PathCase {
    const char16_t *address;
    const char16_t *archiveName; // what follows DownloadFolder in ArchivePath
    const char16_t *unpackName;  // what follows DownloadFolder in UnpackFolder
};

class PathRules : public testing::TestWithParam<PathCase> {};

TEST_P(PathRules, ArchiveAndUnpackNamesFollowTheAddress)
{
    const PathCase &c = GetParam();
    const QString archiveName = LastPathSegment(QString::fromUtf16(c.address));
    EXPECT_EQ(archiveName, QString::fromUtf16(c.archiveName));
    EXPECT_EQ(BaseNameOf(FileNameOf(archiveName)), QString::fromUtf16(c.unpackName));
}

INSTANTIATE_TEST_SUITE_P(
    Table, PathRules,
    testing::Values(PathCase{u"http://h/soft/setup.zip", u"setup.zip", u"setup"},
                    PathCase{u"http://h/soft/setup.new.zip", u"setup.new.zip", u"setup.new"},
                    PathCase{u"http://h/soft/my setup.zip", u"setup.zip", u"setup"},
                    PathCase{u"http://h/soft/get.php?id=5", u"get.php?id=5", u"get"},
                    PathCase{u"http://h/soft/setup", u"setup", u"setup"},
                    PathCase{u"http://h/soft/", u"", u""}, PathCase{u"http://h/soft//", u"", u""},
                    PathCase{u"http://h/soft/.zip", u".zip", u""},
                    PathCase{u"http://h/a/b.zip\t ", u"b.zip", u"b"},
                    PathCase{u"http://h/a/b.zip\nc.zip", u"c.zip", u"c"},
                    PathCase{u"http://h/a/\"my setup.zip\"", u"my setup.zip", u"my setup"},
                    PathCase{u"http://h/a/\"say \"\"hi\"\".zip\"", u"say \"hi\".zip", u"say \"hi\""},
                    PathCase{u"http://h/a/\"open.zip", u"open.zip", u"open"},
                    PathCase{u"http://h/a/get.php?f=c:d.zip", u"get.php?f=c:d.zip", u"d"},
                    PathCase{u"http://h/a/x\\setup.zip", u"x\\setup.zip", u"setup"},
                    PathCase{u"http://h/a/v1.2/setup", u"setup", u"setup"}, PathCase{u"", u"", u""}));

TEST(PathRulesNul, TextAfterNulIsIgnored)
{
    QString address = QStringLiteral("http://h/a/x.zip");
    address += QChar(0);
    address += QStringLiteral("/y.zip");
    EXPECT_EQ(LastPathSegment(address), QStringLiteral("x.zip"));
}

} // namespace
