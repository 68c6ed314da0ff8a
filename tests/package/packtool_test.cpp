#include "package_fixture.h"
#include "package_reader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int status = -1;
    QString out;
    QString err;
};

ToolRun Packtool(const QStringList &arguments)
{
    QProcess process;
    process.start(PACKTOOL_PATH, arguments);
    ToolRun run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    // Lines end as the system ends them in text output; compared with "\n" here.
    run.out = QString::fromUtf8(process.readAllStandardOutput()).replace("\r\n", "\n");
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString launcher = QStringLiteral("安装程序.exe");

QStringList SettingArguments()
{
    return {"--pid",      "pid 7",
            "--launcher", launcher,
            "--banner",   "http://a.test/b.png",
            "--ad",       " http://a.test/ad",
            "--notice",   "",
            "--versions", "http://a.test/v.php"};
}

class PacktoolTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString file(const QString &name) const { return dir.filePath(name); }

    void ExpectWrittenSettings(const QString &path)
    {
        const PackageLoad load = LoadPackage(path);
        ASSERT_EQ(load.Outcome, PackageOutcome::Loaded);
        EXPECT_EQ(load.Settings.PackageId, "pid 7");
        EXPECT_EQ(load.Settings.LauncherName, launcher);
        EXPECT_EQ(load.Settings.AddressTriple, "http://a.test/b.png, http://a.test/ad,");
        EXPECT_EQ(load.Settings.BannerAddress, "http://a.test/b.png");
        EXPECT_EQ(load.Settings.AdAddress, " http://a.test/ad");
        EXPECT_EQ(load.Settings.NoticeAddress, "");
        EXPECT_EQ(load.Settings.VersionListAddress, "http://a.test/v.php");
    }
};

TEST_F(PacktoolTest, WrittenPackageReadsBackThroughTheInstallersReader)
{
    const ToolRun run =
        Packtool(QStringList{"write"} + SettingArguments() + QStringList{"-o", file("pack.db")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    ExpectWrittenSettings(file("pack.db"));
}

TEST_F(PacktoolTest, ShowPrintsTheFieldsByName)
{
    ASSERT_EQ(Packtool(QStringList{"write"} + SettingArguments() + QStringList{"-o", file("pack.db")}).status,
              0);
    const ToolRun run = Packtool({"show", file("pack.db")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, QStringLiteral("PackageId: pid 7\nLauncherName: 安装程序.exe\n"
                                      "AddressTriple: http://a.test/b.png, http://a.test/ad,\n"
                                      "BannerAddress: http://a.test/b.png\nAdAddress:  http://a.test/ad\n"
                                      "NoticeAddress: \nVersionListAddress: http://a.test/v.php\n"));
}

// The package's text is anyone's bytes: what would end or rewrite a terminal line is shown
// escaped, and a backslash is doubled so that an escape cannot be forged.
TEST_F(PacktoolTest, ShowEscapesControlCharactersInFields)
{
    const QString triple = QStringLiteral("http://a.test/b.png,http://a.test/ad,http://a.test/n");
    WriteFile(file("pack.db"),
              PackageFile(FieldsText({{2, QStringLiteral("id") + QChar(0) + QStringLiteral("tail")},
                                      {15, QStringLiteral("setup\\x0a\r\n.exe")},
                                      {21, triple},
                                      {30, QStringLiteral("http://v.test/\x1b[2J\t\x7f")}})));
    const ToolRun run = Packtool({"show", file("pack.db")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("PackageId: id\\x00tail\nLauncherName: setup\\\\x0a\\x0d\\x0a.exe\n"
                                      "AddressTriple: %1\nBannerAddress: http://a.test/b.png\n"
                                      "AdAddress: http://a.test/ad\nNoticeAddress: http://a.test/n\n"
                                      "VersionListAddress: http://v.test/\\x1b[2J\\x09\\x7f\n")
                           .arg(triple));
}

TEST_F(PacktoolTest, AppendToCopyKeepsTheOriginal)
{
    static const char bytes[] = "\x7F"
                                "ELF program bytes\n\0\1\2";
    const QByteArray program(bytes, sizeof bytes - 1);
    WriteFile(file("setup.bin"), program);
    const ToolRun run = Packtool(QStringList{"write"} + SettingArguments() +
                                 QStringList{"--append-to", file("setup.bin"), "-o", file("out.bin")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(ReadFile(file("setup.bin")), program);
    EXPECT_TRUE(ReadFile(file("out.bin")).startsWith(program));
    ExpectWrittenSettings(file("out.bin"));
}

TEST_F(PacktoolTest, AppendInPlace)
{
    const QByteArray program("program bytes");
    WriteFile(file("setup.bin"), program);
    ASSERT_EQ(
        Packtool(QStringList{"write"} + SettingArguments() + QStringList{"--append-to", file("setup.bin")})
            .status,
        0);
    EXPECT_TRUE(ReadFile(file("setup.bin")).startsWith(program));
    ExpectWrittenSettings(file("setup.bin"));
}

TEST_F(PacktoolTest, BundleWritesPackDbIntoTheFolderMakingItFirst)
{
    const QString folder = file("ship/out");
    const ToolRun run = Packtool(QStringList{"write"} + SettingArguments() + QStringList{"--bundle", folder});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    ExpectWrittenSettings(folder + "/pack.db");
    EXPECT_EQ(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"pack.db"});
}

TEST_F(PacktoolTest, BundleKeepsWhatTheFolderHolds)
{
    const QString folder = file("out");
    ASSERT_TRUE(QDir().mkpath(folder + "/lib"));
    WriteFile(folder + "/Installer", "program");
    WriteFile(folder + "/pack.db", "an older package");
    const ToolRun run = Packtool(QStringList{"write"} + SettingArguments() + QStringList{"--bundle", folder});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    ExpectWrittenSettings(folder + "/pack.db");
    EXPECT_EQ(ReadFile(folder + "/Installer"), "program");
    EXPECT_TRUE(QFileInfo(folder + "/lib").isDir());
}

TEST_F(PacktoolTest, BundleThatIsAFileFails)
{
    WriteFile(file("out"), "not a folder");
    const ToolRun run =
        Packtool(QStringList{"write"} + SettingArguments() + QStringList{"--bundle", file("out")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("cannot create the folder")) << run.err.toStdString();
    EXPECT_EQ(ReadFile(file("out")), "not a folder");
}

struct ShowErrorCase {
    const char *name;
    QByteArray file; // empty: no file at all
    QString expected;
};

// Names the case in test listings.
void PrintTo(const ShowErrorCase &c, std::ostream *os)
{
    *os << c.name;
}

class PacktoolShowErrorTest : public PacktoolTest, public ::testing::WithParamInterface<ShowErrorCase> {};

TEST_P(PacktoolShowErrorTest, ReportsWhatTheInstallerWouldMeet)
{
    const ShowErrorCase &c = GetParam();
    if (!c.file.isEmpty())
        WriteFile(file("pack.db"), c.file);
    const ToolRun run = Packtool({"show", file("pack.db")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QString(c.expected).replace("%PATH%", file("pack.db"))))
        << run.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PacktoolShowErrorTest,
    ::testing::Values(
        ShowErrorCase{"Missing", {}, QStringLiteral("文件不存在：%PATH%")},
        ShowErrorCase{"Damaged", PackageFile("a`b"), QStringLiteral("文件已经被破坏，无法打开")},
        ShowErrorCase{"VersionMismatch", PackageFile(WellFormedText("a,b")),
                      QStringLiteral("数据包和主程序版本不匹配")},
        ShowErrorCase{"NotHex", "G1" + Trailer(2), "EConvertError: '$G1' is not a valid integer value"},
        ShowErrorCase{"Truncated", "00" + Trailer(40), "EReadError: Stream read error"}),
    [](const auto &info) { return std::string(info.param.name); });

struct BadArgumentsCase {
    const char *name;
    QStringList arguments;
    QString problem;
};

void PrintTo(const BadArgumentsCase &c, std::ostream *os)
{
    *os << c.name;
}

class PacktoolBadArgumentsTest : public PacktoolTest,
                                 public ::testing::WithParamInterface<BadArgumentsCase> {};

TEST_P(PacktoolBadArgumentsTest, UsageAndNoFile)
{
    const BadArgumentsCase &c = GetParam();
    QStringList arguments = c.arguments;
    arguments.replaceInStrings("%OUT%", file("pack.db"));
    const ToolRun run = Packtool(arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(c.problem)) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("usage:")) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(file("pack.db")));
}

QStringList WriteWith(const QString &option, const QString &value)
{
    QStringList arguments = QStringList{"write"} + SettingArguments() + QStringList{"-o", "%OUT%"};
    arguments[arguments.indexOf(option) + 1] = value;
    return arguments;
}

QStringList WriteWithout(const QString &option)
{
    QStringList arguments = QStringList{"write"} + SettingArguments() + QStringList{"-o", "%OUT%"};
    arguments.remove(arguments.indexOf(option), 2);
    return arguments;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PacktoolBadArgumentsTest,
    ::testing::Values(BadArgumentsCase{"NoCommand", {}, ""},
                      BadArgumentsCase{"UnknownCommand", {"pack"}, "unknown command \"pack\""},
                      BadArgumentsCase{"ShowWithoutFile", {"show"}, "show takes one package file"},
                      BadArgumentsCase{"MissingSetting", WriteWithout("--ad"), "--ad is missing"},
                      BadArgumentsCase{"NoOutput", WriteWithout("-o"), "give -o, --append-to or --bundle"},
                      BadArgumentsCase{"BundleAndOutput",
                                       WriteWith("--pid", "x") << "--bundle"
                                                               << "b",
                                       "--bundle takes the place of -o and --append-to"},
                      BadArgumentsCase{"UnknownOption", WriteWith("--pid", "x") << "--colour", "colour"},
                      BadArgumentsCase{"StrayArgument", WriteWith("--pid", "x") << "extra", "\"extra\""},
                      BadArgumentsCase{"GraveAccent", WriteWith("--pid", "a`b"),
                                       "--pid must not contain \"`\""},
                      BadArgumentsCase{"CommaInAddress", WriteWith("--notice", "http://a,b"),
                                       "--notice must not contain \",\""},
                      BadArgumentsCase{"NotInGbk", WriteWith("--launcher", QStringLiteral("setup😀.exe")),
                                       "--launcher holds characters that GBK cannot represent"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(PacktoolTest, PublicKeyIsStoredAndItsIdShown)
{
    ASSERT_EQ(Packtool({"keygen", "-o", file("publisher")}).status, 0);
    const QList<QByteArray> keyLines = ReadFile(file("publisher.pub")).split('\n');
    ASSERT_GE(keyLines.size(), 2);
    const ToolRun run = Packtool(QStringList{"write"} + SettingArguments() +
                                 QStringList{"--public-key", file("publisher.pub"), "-o", file("pack.db")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    ExpectWrittenSettings(file("pack.db"));
    EXPECT_EQ(LoadPackage(file("pack.db")).Settings.PublicKey, QString::fromLatin1(keyLines[1]));
    const QString keyId = QString::fromLatin1(keyLines[0]).section(' ', -1);
    EXPECT_TRUE(Packtool({"show", file("pack.db")})
                    .out.endsWith(QStringLiteral("PublicKey: %1 (key id %2)\n").arg(keyLines[1], keyId)));
}

TEST_F(PacktoolTest, NotAPublicKeyWritesNothing)
{
    WriteFile(file("publisher.pub"), "untrusted comment: a key\nnot base64 at all\n");
    const ToolRun run = Packtool(QStringList{"write"} + SettingArguments() +
                                 QStringList{"--public-key", file("publisher.pub"), "-o", file("pack.db")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("not a minisign public key file")) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(file("pack.db")));
}

TEST_F(PacktoolTest, FailedWriteLeavesNoFile)
{
    const ToolRun run =
        Packtool(QStringList{"write"} + SettingArguments() + QStringList{"-o", file("no/such/pack.db")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("cannot write")) << run.err.toStdString();
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST_F(PacktoolTest, MissingAppendBaseWritesNothing)
{
    const ToolRun run = Packtool(QStringList{"write"} + SettingArguments() +
                                 QStringList{"--append-to", file("absent.bin"), "-o", file("pack.db")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("cannot read")) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(file("pack.db")));
}

} // namespace
