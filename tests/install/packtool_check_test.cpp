// `packtool check` against a scripted server: what it accepts, what it flags, its exit status.
#include "fixtures.h"
#include "script_server.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A setup program the system starts on its own: one marked executable here, an .exe on Windows.
#ifdef Q_OS_WIN
const QByteArray StartedDirectly = "setup.exe";
#else
const QByteArray StartedDirectly = "setup.sh";
#endif

class PackToolCheck : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        const QString base = server.Base();
        WritePackage(folder.path(),
                     {QStringLiteral("demo"), QString::fromLatin1(StartedDirectly),
                      base + "/banner," + base + "/ad," + base + "/notice", base + "/versions"});
    }

    // Runs the check and returns its exit status; its output goes to `output`.
    int Check(const QStringList &options = {})
    {
        QProcess tool;
        tool.start(QStringLiteral(PACKTOOL_PATH),
                   QStringList{QStringLiteral("check")} + options + QStringList{folder.path() + "/pack.db"});
        EXPECT_TRUE(tool.waitForFinished(60000));
        output = QString::fromUtf8(tool.readAllStandardOutput());
        return tool.exitCode();
    }

    static QByteArray BluePng(int width, int height)
    {
        QImage banner(width, height, QImage::Format_RGB32);
        banner.fill(Qt::blue);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        banner.save(&buffer, "png");
        return png;
    }

    void ServeGoodProduct(const QByteArray &archive)
    {
        server.On("/banner", ScriptServer::Ok(BluePng(965, 477)));
        server.On("/notice", ScriptServer::Ok("请加客服QQ 1"));
        server.On("/versions?pid=demo&act=list&fee=1", ScriptServer::Ok("1`A"));
        server.On("/versions?pid=demo&act=down&vid=1&fee=1",
                  ScriptServer::Ok((server.Base() + "/soft/setup.zip").toLatin1()));
        server.On("/soft/setup.zip", ScriptServer::Ok(archive));
    }

    QStringList Lines(const char *mark) const
    {
        QStringList lines;
        for (const QString &line : output.split(u'\n'))
            if (line.startsWith(QLatin1String(mark)))
                lines.append(line);
        return lines;
    }

    ScriptServer server;
    QTemporaryDir folder;
    QString output;
};

TEST_F(PackToolCheck, PassesAProductTheInstallerCanInstall)
{
    ServeGoodProduct(StoredZip({{StartedDirectly, "#!/bin/sh\n", 0755}}));
    EXPECT_EQ(Check({QStringLiteral("--download")}), 0) << output.toStdString();
    EXPECT_TRUE(Lines("[FAIL]").isEmpty()) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("PNG, 965 x 477 pixels")));
    EXPECT_TRUE(output.contains(QStringLiteral("-> download/setup.zip, unpacked into download/setup/")));
    EXPECT_TRUE(output.contains(QStringLiteral("\"%1\" is executable").arg(StartedDirectly)));
}

// The installer decodes a picture larger than the banner at the banner's size; the check
// still names the size the publisher made.
TEST_F(PackToolCheck, NamesTheSizeOfALargeBannerAsMade)
{
    ServeGoodProduct({});
    server.On("/banner", ScriptServer::Ok(BluePng(2000, 1000)));
    EXPECT_EQ(Check(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("PNG, 2000 x 1000 pixels, stretched to 965 x 477")))
        << output.toStdString();
}

TEST_F(PackToolCheck, WithoutDownloadTheArchiveIsNotFetched)
{
    ServeGoodProduct({});
    EXPECT_EQ(Check(), 0) << output.toStdString();
    EXPECT_FALSE(server.Requests().contains("/soft/setup.zip"));
}

TEST_F(PackToolCheck, FlagsEveryReplyTheInstallerWouldNotUse)
{
    server.On("/banner", ScriptServer::Ok("\xFF\xD8\xFF\xDB rest of a JPEG"));
    server.On("/notice", ScriptServer::Ok("欢迎"));
    server.On("/versions?pid=demo&act=list&fee=1", ScriptServer::Ok("1`A|junk|2`B|3`C|"));
    server.On("/versions?pid=demo&act=down&vid=1&fee=1", ScriptServer::Ok("ftp://h/setup.zip"));
    server.On("/versions?pid=demo&act=down&vid=2&fee=1", ScriptServer::Ok("http://h/soft/setup"));
    server.On("/versions?pid=demo&act=down&vid=3&fee=1", ScriptServer::Ok("error: withdrawn"));
    EXPECT_EQ(Check(), 1);
    const QStringList failures = Lines("[FAIL]");
    ASSERT_EQ(failures.size(), 6) << output.toStdString();
    EXPECT_TRUE(failures[0].contains(QStringLiteral("FF D8 FF DB")));
    EXPECT_TRUE(failures[1].contains(QStringLiteral("请加客服")));
    EXPECT_TRUE(failures[2].contains(QStringLiteral("entry 1 \"junk\" is without a backtick")));
    EXPECT_TRUE(failures[3].contains(QStringLiteral("entry 4 \"\" is empty")));
    EXPECT_TRUE(
        failures[4].contains(QStringLiteral("\"ftp://h/setup.zip\", not an http:// or https:// address")));
    EXPECT_TRUE(failures[5].contains(QStringLiteral("http://h/soft/setup does not end in a file name")));
    ASSERT_EQ(Lines("[note]").size(), 1);
    EXPECT_TRUE(Lines("[note]")[0].contains(QStringLiteral("\"error: withdrawn\", which the user is shown")));
    EXPECT_TRUE(output.contains(QStringLiteral("6 check(s) failed")));
}

struct SetupProgramCase {
    const char *name;
    const char16_t *launcher;
    const char *entry; // where the archive holds the setup program
    int status;
};

void PrintTo(const SetupProgramCase &c, std::ostream *os)
{
    *os << c.name;
}

class PackToolCheckSetupProgram : public PackToolCheck,
                                  public testing::WithParamInterface<SetupProgramCase> {};

// The setup program is looked for where the installer looks for it.
TEST_P(PackToolCheckSetupProgram, IsFoundWhereTheInstallerFindsIt)
{
    const SetupProgramCase &c = GetParam();
    const QString base = server.Base();
    const QString launcher = QString::fromUtf16(c.launcher);
    WritePackage(folder.path(), {QStringLiteral("demo"), launcher,
                                 base + "/banner," + base + "/ad," + base + "/notice", base + "/versions"});
    ServeGoodProduct(StoredZip({{c.entry, "#!/bin/sh\n", 0755}}));
    EXPECT_EQ(Check({QStringLiteral("--download")}), c.status) << output.toStdString();
    if (c.status == 0)
        return;
    ASSERT_EQ(Lines("[FAIL]").size(), 1) << output.toStdString();
    EXPECT_TRUE(Lines("[FAIL]")[0].contains(QStringLiteral("holds no \"%1\"").arg(launcher)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, PackToolCheckSetupProgram,
    testing::Values(SetupProgramCase{"inAFolderOfTheArchive", u"setup.sh", "tools/setup.sh", 1},
                    SetupProgramCase{"namedWithABackslash", u"bin\\setup.sh", "bin/setup.sh", 0},
                    SetupProgramCase{"backslashNameMissing", u"bin\\setup.sh", "setup.sh", 1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(PackToolCheck, DownloadReportsAnArchiveThatCannotBeUnpacked)
{
    ServeGoodProduct("PK, but no archive");
    EXPECT_EQ(Check({QStringLiteral("--download")}), 1);
    ASSERT_EQ(Lines("[FAIL]").size(), 1) << output.toStdString();
    EXPECT_TRUE(Lines("[FAIL]")[0].contains(QStringLiteral("unpacking fails: Error reading zip file")));
}

// With a public key in the package, a downloaded archive must carry a signature by that key.
TEST_F(PackToolCheck, DownloadVerifiesTheSignatureWhenThePackageHasAKey)
{
    const auto packtool = [](const QStringList &arguments) {
        QProcess tool;
        tool.start(QStringLiteral(PACKTOOL_PATH), arguments);
        return tool.waitForFinished(30000) ? tool.exitCode() : -1;
    };
    const QString key = folder.filePath("publisher");
    ASSERT_EQ(packtool({"keygen", "-o", key}), 0);
    const QString base = server.Base();
    ASSERT_EQ(packtool({"write", "--pid", "demo", "--launcher", "setup.sh", "--banner", base + "/banner",
                        "--ad", base + "/ad", "--notice", base + "/notice", "--versions", base + "/versions",
                        "--public-key", key + ".pub", "-o", folder.filePath("pack.db")}),
              0);
    QFile archive(folder.filePath("setup.zip"));
    ASSERT_TRUE(archive.open(QIODevice::WriteOnly));
    archive.write(StoredZip({{"setup.sh", "#!/bin/sh\n", 0755}}));
    archive.close();
    ASSERT_EQ(packtool({"sign", "--key", key + ".key", archive.fileName()}), 0);
    ASSERT_TRUE(archive.open(QIODevice::ReadOnly));
    QByteArray signedArchive = archive.readAll();

    ServeGoodProduct(signedArchive);
    EXPECT_EQ(Check({QStringLiteral("--download")}), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("signature by key"))) << output.toStdString();

    signedArchive[40] = char(signedArchive[40] ^ 1); // in the setup program's data
    ServeGoodProduct(signedArchive);
    output.clear();
    EXPECT_EQ(Check({QStringLiteral("--download")}), 1);
    ASSERT_EQ(Lines("[FAIL]").size(), 1) << output.toStdString();
    EXPECT_TRUE(Lines("[FAIL]")[0].contains(QStringLiteral("the signature does not match the archive")));
    EXPECT_TRUE(Lines("[FAIL]")[0].contains(
        QStringLiteral("安装包校验失败，可能已被篡改，请点击上方图片进入网站联系客服反馈处理")));
}

TEST_F(PackToolCheck, ADamagedPackageFailsBeforeAnyRequest)
{
    QFile package(folder.path() + "/pack.db");
    ASSERT_TRUE(package.open(QIODevice::WriteOnly));
    package.write(QByteArray("\0\0\0\0", 4));
    package.close();
    EXPECT_EQ(Check(), 1);
    EXPECT_TRUE(output.contains(QStringLiteral("文件已经被破坏，无法打开")));
    EXPECT_TRUE(server.Requests().isEmpty());
}

} // namespace
