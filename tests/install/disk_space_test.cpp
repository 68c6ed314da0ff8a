#include "disk_space.h"
#include "small_file_system.h"

#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

constexpr qint64 MiB = 1 << 20;

struct NoticeCase {
    qint64 needed;
    qint64 free;
    const char16_t *notice;
};

class DiskSpaceNotices : public testing::TestWithParam<NoticeCase> {};

// What must be free is rounded up and what is free rounded down, so the figures never make a
// shortage look like enough.
TEST_P(DiskSpaceNotices, NameWhatIsNeededWithTheMarginAndWhatIsFree)
{
    EXPECT_EQ(DiskSpaceNotice(GetParam().needed, GetParam().free), QString::fromUtf16(GetParam().notice));
}

INSTANTIATE_TEST_SUITE_P(
    Table, DiskSpaceNotices,
    testing::Values(
        NoticeCase{0, 0, u"磁盘空间不足：需要 16 MB，可用 0 MB，请清理磁盘后重试"},
        NoticeCase{1, MiB - 1, u"磁盘空间不足：需要 17 MB，可用 0 MB，请清理磁盘后重试"},
        NoticeCase{3 * MiB, 17 * MiB + MiB / 2, u"磁盘空间不足：需要 19 MB，可用 17 MB，请清理磁盘后重试"},
        NoticeCase{5000 * MiB + 1, 4000 * MiB, u"磁盘空间不足：需要 5017 MB，可用 4000 MB，请清理磁盘后重试"},
        NoticeCase{10, -1, u"磁盘空间不足：需要 17 MB，可用 0 MB，请清理磁盘后重试"}));

TEST(DiskSpace, TheMarginMustFitBesideWhatIsNeeded)
{
    EXPECT_TRUE(HasRoomFor(MiB, MiB + DiskSpaceMargin));
    EXPECT_FALSE(HasRoomFor(MiB, MiB + DiskSpaceMargin - 1));
    EXPECT_FALSE(HasRoomFor(0, DiskSpaceMargin - 1));
    EXPECT_TRUE(HasRoomFor(qint64(1) << 40, -1)); // unknown: the write will tell
}

// A folder that does not exist yet is measured on the file system that will hold it.
TEST(DiskSpace, FreeBytesOfAFolderYetToBeMade)
{
    QTemporaryDir dir;
    const qint64 free = FreeBytesAt(dir.filePath("download/setup"));
    const qint64 expected = QStorageInfo(dir.path()).bytesAvailable();
    EXPECT_GT(free, 0);
    EXPECT_LT(qAbs(free - expected), 64 * MiB);
    EXPECT_EQ(DiskSpaceShortage(MiB, dir.filePath("download/setup")), QString());
    EXPECT_TRUE(DiskSpaceShortage(free, dir.path()).startsWith(QString::fromUtf16(u"磁盘空间不足：需要 ")));
}

// A private 4 MiB file system: the figures follow what is written on it.
TEST(DiskSpace, SmallFileSystem)
{
    QTemporaryDir dir;
    if (!MountSmallFileSystem(dir.path(), 4))
        GTEST_SKIP() << "mounting a small file system needs root on Linux";
    EXPECT_EQ(FreeBytesAt(dir.filePath("download")), 4 * MiB);
    QFile file(dir.filePath("filler"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(QByteArray(MiB, 'x')), MiB);
    file.close();
    const qint64 free = FreeBytesAt(dir.filePath("download"));
    EXPECT_EQ(free, 3 * MiB);
    EXPECT_FALSE(HasRoomFor(MiB, free));
    EXPECT_EQ(DiskSpaceNotice(MiB, free),
              QString::fromUtf16(u"磁盘空间不足：需要 17 MB，可用 3 MB，请清理磁盘后重试"));
    UnmountSmallFileSystem(dir.path());
}

} // namespace
