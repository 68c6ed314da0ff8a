// The install button against a scripted server: every notice, path rule and leftover.
#include "failure.h"
#include "fixtures.h"
#include "shell.h"
#include "url_recorder.h"
#include "window_fixture.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {

constexpr char16_t BadAddress[] = u"获取的下载地址不正确，请点击上方图片进入网站联系客服反馈处理";
const QString DownloadFailed =
    QStringLiteral("下载失败！可能网络不通或磁盘空间不够，请点击上方图片进入网站联系客服反馈处理");
const QString ArchiveMissing =
    QStringLiteral("下载成功，软件包找不到，请点击上方图片进入网站联系客服反馈处理");
const QString SetupMissing = QStringLiteral("没有找到安装启动程序，请点击上方图片进入网站联系客服反馈处理；");
const QString Unpacking = QStringLiteral("安装程序获取成功，正在解压，耗时根据您电脑性能，请等待一会哦....");
const QString Initial = QStringLiteral("正在获取软件安装程序，请耐心等待......");

QByteArray SetupArchive()
{
    return StoredZip({{SetupName, MarkerScript(), 0755}, {"data/readme.txt", "new readme"}});
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
}

class InstallTest : public WindowTest {
protected:
    // Opens the window, chooses version "1" and presses the install button.
    void Install()
    {
        Open();
        ASSERT_GT(form->ComboBox1->count(), 0);
        form->ComboBox1->setCurrentIndex(0);
        form->Button1Click();
    }
    int Lookups() const { return int(server.Requests().count(LookupTarget)); }
};

TEST_F(InstallTest, WithoutAChosenVersionAsksForOne)
{
    Open();
    form->Button1Click();
    EXPECT_EQ(notices, QStringList{QStringLiteral("请先选择要安装的软件版本")});
    EXPECT_FALSE(form->Panel2->isVisible());
    EXPECT_EQ(Lookups(), 0);
}

struct RefusalCase {
    const char *name;
    ScriptServer::Reply lookup;
    const char16_t *notice;
};

class RefusedLookup : public InstallTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusedLookup, ShowsItsNoticeAndLetsTheUserPressAgain)
{
    server.On(ListTarget, ScriptServer::Ok("1`A"));
    server.On(LookupTarget, GetParam().lookup);
    server.On("/soft/setup.zip", ScriptServer::Ok(SetupArchive()));
    Install();
    EXPECT_EQ(notices, QStringList{QString::fromUtf16(GetParam().notice)});
    EXPECT_FALSE(form->Panel2->isVisible());
    EXPECT_TRUE(form->Button1->isEnabled());
    EXPECT_FALSE(server.Requests().contains("/soft/setup.zip"));
    EXPECT_FALSE(QuitRequested());

    form->Button1Click(); // from the beginning again
    EXPECT_EQ(Lookups(), 2);
    EXPECT_EQ(notices.size(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedLookup,
    testing::Values(
        RefusalCase{"serviceError", ScriptServer::Ok("Error: \xB0\xE6\xB1\xBE\xD2\xD1\xCF\xC2\xBC\xDC"),
                    u"Error: 版本已下架"},
        RefusalCase{"errorInAddress", ScriptServer::Ok("http://127.0.0.1:1/ERRORS/setup.zip"),
                    u"http://127.0.0.1:1/ERRORS/setup.zip"},
        RefusalCase{"failedLookup", ScriptServer::Status("HTTP/1.1 500 Internal Server Error"), BadAddress},
        RefusalCase{"emptyReply", ScriptServer::Ok(" \r\n"), BadAddress},
        RefusalCase{"otherScheme", ScriptServer::Ok("ftp://127.0.0.1/soft/setup.zip"), BadAddress},
        RefusalCase{"notAnAddress", ScriptServer::Ok("\xC7\xEB\xC9\xD4\xBA\xF3"), BadAddress}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(InstallTest, InstallsTheChosenVersionAndStartsItsSetupProgram)
{
    server.On("/notice", ScriptServer::Ok("  请加客服QQ 99 \n"));
    ServeVersion("/soft/setup.zip", SetupArchive());
    Install();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
    EXPECT_EQ(form->label1->text(), QStringLiteral("请加客服QQ 99"));
    EXPECT_EQ(form->bfb->text(), QStringLiteral("100%"));
    EXPECT_EQ(ReadFile(Download() + QStringLiteral("setup.zip")), SetupArchive());
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip.tmp")));
    EXPECT_EQ(ReadFile(Download() + QStringLiteral("setup/data/readme.txt")), "new readme");
    EXPECT_EQ(form->Session.ArchivePath, Download() + QStringLiteral("setup.zip"));
    EXPECT_TRUE(form->Panel2->isVisible());
    EXPECT_FALSE(QuitRequested());

    // Closing the window removes the archive and keeps what was unpacked.
    form->close();
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip")));
    EXPECT_TRUE(QFileInfo::exists(Download() + "setup/" + QString::fromLatin1(SetupName)));
    EXPECT_TRUE(QuitRequested());
}

TEST_F(InstallTest, WithoutNoticeTheClosingTextNamesTheServiceNumber)
{
    ServeVersion("/soft/setup.zip", SetupArchive());
    Install();
    ASSERT_FALSE(form->Session.ServiceNumber.isEmpty());
    EXPECT_EQ(form->label1->text(), QStringLiteral("已经启动安装程序，如长时间没有反应，请加客服QQ ") +
                                        form->Session.ServiceNumber);
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
}

TEST_F(InstallTest, AcceptsAnAddressWithBlanksAndCapitalScheme)
{
    server.On(ListTarget, ScriptServer::Ok("1`A"));
    server.On(LookupTarget,
              ScriptServer::Ok(" \r\n" + Address("/Soft/Setup.zip").toUpper().toLatin1() + " \n"));
    server.On("/SOFT/SETUP.ZIP", ScriptServer::Ok(SetupArchive()));
    Install();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_EQ(form->Session.DownloadAddress, Address("/Soft/Setup.zip").toUpper());
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("SETUP/ran.txt")));
}

TEST_F(InstallTest, FollowsRedirectsOfTheDownload)
{
    ServeVersion("/soft/setup.zip", {});
    server.On("/soft/setup.zip", ScriptServer::Status("HTTP/1.1 302 Found", "Location: /mirror/x.zip\r\n"));
    server.On("/mirror/x.zip", ScriptServer::Ok(SetupArchive()));
    Install();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_EQ(ReadFile(Download() + QStringLiteral("setup.zip")), SetupArchive());
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
}

TEST_F(InstallTest, VersionIdIsEncodedInTheLookup)
{
    server.On(ListTarget, ScriptServer::Ok("1`A|\r\n2&x`B"));
    Open();
    form->ComboBox1->setCurrentIndex(1);
    form->Button1Click();
    EXPECT_TRUE(server.Requests().contains("/versions?pid=demo&act=down&vid=%0D%0A2%26x&fee=1"));
}

TEST_F(InstallTest, AFailedDownloadEndsTheProgramAndKeepsThePartialFile)
{
    ServeVersion("/soft/setup.zip", {});
    server.On("/soft/setup.zip", ScriptServer::Status("HTTP/1.1 404 Not Found"));
    Install();
    EXPECT_EQ(notices, QStringList{DownloadFailed});
    EXPECT_TRUE(QuitRequested());
    EXPECT_TRUE(QFileInfo(Download() + QStringLiteral("setup.zip.tmp")).isFile());
    EXPECT_EQ(QFileInfo(Download() + QStringLiteral("setup.zip.tmp")).size(), 0);
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip")));
}

struct MissingArchiveCase {
    const char *name;
    QByteArray target;
    const char16_t *archiveName;
};

class ArchiveNotInPlace : public InstallTest, public testing::WithParamInterface<MissingArchiveCase> {};

TEST_P(ArchiveNotInPlace, EndsTheProgramWithItsNotice)
{
    ServeVersion(GetParam().target, SetupArchive());
    Install();
    EXPECT_EQ(notices, QStringList{ArchiveMissing});
    EXPECT_TRUE(QuitRequested());
    EXPECT_EQ(form->Session.ArchivePath, Download() + QString::fromUtf16(GetParam().archiveName));
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup/ran.txt")));
}

INSTANTIATE_TEST_SUITE_P(Table, ArchiveNotInPlace,
                         // A final "/" names the download folder itself; a name without "." is also the name
                         // of the unpacked folder, made before the download.
                         testing::Values(MissingArchiveCase{"folderAddress", "/soft/", u""},
                                         MissingArchiveCase{"nameWithoutDot", "/soft/setup", u"setup"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(InstallTest, AnArchiveWithoutTheSetupProgramEndsTheProgram)
{
    ServeVersion("/soft/setup.zip", StoredZip({{"other.sh", MarkerScript(), 0755}}));
    Install();
    EXPECT_EQ(notices, QStringList{SetupMissing});
    EXPECT_TRUE(QuitRequested());
    EXPECT_TRUE(QFileInfo::exists(Download() + QStringLiteral("setup/other.sh")));
}

TEST_F(InstallTest, ATemporaryFileThatCannotBeCreatedEscapesTheHandler)
{
    WriteFile(Folder() + QStringLiteral("download"), "a file where the folder should be");
    ServeVersion("/soft/setup.zip", SetupArchive());
    Open();
    form->ComboBox1->setCurrentIndex(0);
    try {
        form->Button1Click();
        FAIL() << "no failure";
    } catch (const Failure &failure) {
        const QString start = QStringLiteral("Cannot create file \"%1setup.zip.tmp\". ").arg(Download());
        EXPECT_TRUE(failure.Message().startsWith(start)) << failure.Message().toStdString();
        EXPECT_GT(failure.Message().size(), start.size()); // the system's reason follows
    }
    EXPECT_TRUE(notices.isEmpty());
    EXPECT_EQ(form->label1->text(), Initial);
    EXPECT_EQ(form->bfb->text(), QStringLiteral("0.00%"));
    EXPECT_TRUE(form->Panel2->isVisible());
    EXPECT_FALSE(QuitRequested());
    EXPECT_FALSE(form->installing);
}

TEST_F(InstallTest, AFailedExtractionEscapesTheHandlerAndKeepsTheArchive)
{
    ServeVersion("/soft/setup.zip", "PK but not an archive at all");
    Open();
    form->ComboBox1->setCurrentIndex(0);
    try {
        form->Button1Click();
        FAIL() << "no failure";
    } catch (const Failure &failure) {
        EXPECT_EQ(failure.Message(), QStringLiteral("Error reading zip file"));
    }
    EXPECT_EQ(form->label1->text(), Unpacking);
    EXPECT_TRUE(QFileInfo(Download() + QStringLiteral("setup.zip")).isFile());
    EXPECT_FALSE(QuitRequested());
}

TEST_F(InstallTest, LeftoversOfAnEarlierRunAreReplacedOrReused)
{
    WriteFile(Download() + QStringLiteral("setup.zip"), "old archive");
    WriteFile(Download() + QStringLiteral("setup.zip.tmp"), "old partial download");
    WriteFile(Download() + QStringLiteral("setup/old.txt"), "kept");
    WriteFile(Download() + QStringLiteral("setup/data/readme.txt"), "old readme");
    ServeVersion("/soft/setup.zip", SetupArchive());
    Install();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_EQ(ReadFile(Download() + QStringLiteral("setup.zip")), SetupArchive());
    EXPECT_FALSE(QFileInfo::exists(Download() + QStringLiteral("setup.zip.tmp")));
    EXPECT_EQ(ReadFile(Download() + QStringLiteral("setup/old.txt")), "kept");
    EXPECT_EQ(ReadFile(Download() + QStringLiteral("setup/data/readme.txt")), "new readme");
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/ran.txt")));
}

TEST_F(InstallTest, ASetupProgramNamedWithABackslashLiesInAFolderOfTheArchive)
{
    launcherName = "bin\\" + QString::fromLatin1(SetupName);
    ServeVersion("/soft/setup.zip", StoredZip({{"bin/" + SetupName, MarkerScript(), 0755}}));
    Install();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    EXPECT_TRUE(AwaitFile(Download() + QStringLiteral("setup/bin/ran.txt")));
}

TEST_F(InstallTest, ASetupProgramThatIsNoExecutableGoesToTheDesktop)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "Windows opens such a file through the shell (ShellExecute), not Qt's URL "
                    "handlers; the batch-file setup programs of the other cases take that way";
#endif
    launcherName = QStringLiteral("安装说明.txt");
    UrlRecorder desktop(QStringLiteral("file"));
    ServeVersion("/soft/setup.zip",
                 StoredZip({{"\xB0\xB2\xD7\xB0\xCB\xB5\xC3\xF7.txt", "read me"}})); // GBK name
    Install();
    EXPECT_TRUE(notices.isEmpty()) << notices.join(u'\n').toStdString();
    ASSERT_EQ(desktop.opened.size(), 1);
    EXPECT_EQ(desktop.opened[0], QUrl::fromLocalFile(Download() + QStringLiteral("setup/安装说明.txt")));
}

} // namespace
