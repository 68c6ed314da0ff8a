#include "failure.h"
#include "package_fixture.h"
#include "package_format.h"
#include "package_reader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString banner = "http://a.test/banner.png";
const QString ad = "http://a.test/ad";
const QString notice = "http://a.test/notice";
const QString triple = banner + "," + ad + "," + notice;

struct OutcomeCase {
    const char *name;
    QByteArray file;
    PackageOutcome outcome;
    PackageSettings settings;
};

// Names the case in test listings.
void PrintTo(const OutcomeCase &c, std::ostream *os)
{
    *os << c.name;
}

PackageSettings ReadFields(const QString &addressTriple)
{
    return {"pid-42", QStringLiteral("安装程序.exe"), addressTriple, {}, {}, {}, "http://a.test/versions",
            {}};
}

PackageSettings Loaded(const QString &addressTriple, const QString &b, const QString &a, const QString &n)
{
    PackageSettings settings = ReadFields(addressTriple);
    settings.BannerAddress = b;
    settings.AdAddress = a;
    settings.NoticeAddress = n;
    return settings;
}

void ExpectSettings(const PackageSettings &actual, const PackageSettings &expected)
{
    EXPECT_EQ(actual.PackageId, expected.PackageId);
    EXPECT_EQ(actual.LauncherName, expected.LauncherName);
    EXPECT_EQ(actual.AddressTriple, expected.AddressTriple);
    EXPECT_EQ(actual.BannerAddress, expected.BannerAddress);
    EXPECT_EQ(actual.AdAddress, expected.AdAddress);
    EXPECT_EQ(actual.NoticeAddress, expected.NoticeAddress);
    EXPECT_EQ(actual.VersionListAddress, expected.VersionListAddress);
    EXPECT_EQ(actual.PublicKey, expected.PublicKey);
}

QByteArray WithOddTail(const QString &text)
{
    // One stray hex digit after the pairs, counted in N: ignored.
    QByteArray file = PackageFile(text);
    QByteArray payload = file.left(file.size() - 4) + "7";
    return payload + Trailer(qint32(payload.size()));
}

QByteArray LowerCaseHex(const QString &text)
{
    const QByteArray payload = EncodePayload(text.toUtf8(), true);
    return payload + Trailer(qint32(payload.size()));
}


class PackageOutcomeTest : public PackageFolder, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(PackageOutcomeTest, SettingsAndServiceNumberFollowTheOutcome)
{
    const OutcomeCase &c = GetParam();
    WriteFile(path(), c.file);
    const PackageLoad load = LoadPackage(path());
    EXPECT_EQ(load.Outcome, c.outcome);
    ExpectSettings(load.Settings, c.settings);
    EXPECT_EQ(load.ServiceNumber, QString::fromUtf16(ServiceNumber));
}

const QString allEmpty = QString(31, u'`');

INSTANTIATE_TEST_SUITE_P(
    Rows, PackageOutcomeTest,
    ::testing::Values(
        OutcomeCase{"WellFormed", PackageFile(WellFormedText(triple)), PackageOutcome::Loaded,
                    Loaded(triple, banner, ad, notice)},
        OutcomeCase{"ThirtyOneSeparatorsOnly", PackageFile(allEmpty), PackageOutcome::VersionMismatch,
                    PackageSettings{}},
        OutcomeCase{"TwoCommasGiveThreeEmptyAddresses", PackageFile(WellFormedText(",,")),
                    PackageOutcome::Loaded, Loaded(",,", "", "", "")},
        OutcomeCase{"BlankAfterCommaStays", PackageFile(WellFormedText("a, b,c")), PackageOutcome::Loaded,
                    Loaded("a, b,c", "a", " b", "c")},
        OutcomeCase{"TwoAddresses", PackageFile(WellFormedText("a,b")), PackageOutcome::VersionMismatch,
                    ReadFields("a,b")},
        OutcomeCase{"FourAddresses", PackageFile(WellFormedText("a,b,c,d")), PackageOutcome::VersionMismatch,
                    ReadFields("a,b,c,d")},
        OutcomeCase{"NoComma", PackageFile(WellFormedText("abc")), PackageOutcome::VersionMismatch,
                    ReadFields("abc")},
        OutcomeCase{"ThirtyOneFields", PackageFile(QString(30, u'`')), PackageOutcome::Damaged, {}},
        OutcomeCase{
            "ThirtyThreeFields", PackageFile(WellFormedText(triple) + "`"), PackageOutcome::Damaged, {}},
        OutcomeCase{"OnlyATrailerOfZero", Trailer(0), PackageOutcome::Damaged, {}},
        OutcomeCase{"NegativeLength", "0011" + Trailer(-2), PackageOutcome::Damaged, {}},
        OutcomeCase{"BytesInFrontAreIgnored",
                    QByteArray("MZ\x90\0\x03 any program`,,", 16) + PackageFile(WellFormedText(triple)),
                    PackageOutcome::Loaded, Loaded(triple, banner, ad, notice)},
        OutcomeCase{"OddPayloadLength", WithOddTail(WellFormedText(triple)), PackageOutcome::Loaded,
                    Loaded(triple, banner, ad, notice)},
        OutcomeCase{"LowerCaseHex", LowerCaseHex(FieldsText({{2, "p"}, {21, "x,y,z"}})),
                    PackageOutcome::Loaded, PackageSettings{"p", "", "x,y,z", "x", "y", "z", "", {}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(PackageFolder, NoFileIsMissingAndSetsNothing)
{
    const PackageLoad load = LoadPackage(path());
    EXPECT_EQ(load.Outcome, PackageOutcome::Missing);
    ExpectSettings(load.Settings, {});
    EXPECT_TRUE(load.ServiceNumber.isEmpty());
}

// The last field carries the publisher's public key; a package without one loads as before.
TEST_F(PackageFolder, LastFieldIsThePublicKey)
{
    const QString key = "RWQkV0J/WBbMw0uCl+rxz6IUs4wCxveab5FodeQGwp1bgkWTJeS5Rtzo";
    QString text = WellFormedText();
    text.append(key);
    WriteFile(path(), PackageFile(text));
    const PackageLoad load = LoadPackage(path());
    ASSERT_EQ(load.Outcome, PackageOutcome::Loaded);
    EXPECT_EQ(load.Settings.PublicKey, key);
    EXPECT_EQ(load.Settings.VersionListAddress, "http://a.test/versions");
}

TEST_F(PackageFolder, FolderNamedLikeThePackageIsMissing)
{
    ASSERT_TRUE(QDir(folder()).mkdir("pack.db"));
    EXPECT_EQ(LoadPackage(path()).Outcome, PackageOutcome::Missing);
}

TEST_F(PackageFolder, PathIsTheFolderFollowedByPackDb)
{
    EXPECT_EQ(PackagePath("/opt/product/"), "/opt/product/pack.db");
}

TEST(PackageNotice, FixedTexts)
{
    EXPECT_EQ(PackageNotice(PackageOutcome::Missing, "/opt/p/pack.db"),
              QStringLiteral("文件不存在：/opt/p/pack.db"));
    EXPECT_EQ(PackageNotice(PackageOutcome::Damaged, "x"), QStringLiteral("文件已经被破坏，无法打开"));
    EXPECT_EQ(PackageNotice(PackageOutcome::VersionMismatch, "x"),
              QStringLiteral("数据包和主程序版本不匹配"));
    EXPECT_TRUE(PackageNotice(PackageOutcome::Loaded, "x").isEmpty());
}

struct FailureCase {
    const char *name;
    QByteArray file;
    const char *kind;
    QString message;
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class PackageFailureTest : public PackageFolder, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(PackageFailureTest, EscapesWithKindAndMessage)
{
    const FailureCase &c = GetParam();
    WriteFile(path(), c.file);
    try {
        LoadPackage(path());
        FAIL() << "no failure";
    } catch (const Failure &failure) {
        EXPECT_EQ(failure.Kind(), c.kind);
        EXPECT_EQ(failure.Message(), c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PackageFailureTest,
    ::testing::Values(
        FailureCase{"ShorterThanTrailer", "abc", "EReadError", "Stream read error"},
        FailureCase{"EmptyFile", "", "EReadError", "Stream read error"},
        FailureCase{"LengthBeyondFile", "00112233" + Trailer(9), "EReadError", "Stream read error"},
        // Must fail at once, without reserving two gigabytes.
        FailureCase{"HugeLength", "0011" + Trailer(0x7FFFFFFF), "EReadError", "Stream read error"},
        FailureCase{"NotHexPair", "0011G1" + Trailer(6), "EConvertError",
                    "'$G1' is not a valid integer value"},
        FailureCase{"CheckFieldNotHex", PackageFile(FieldsText({{13, "00zz"}, {21, "a,b,c"}})),
                    "EConvertError", "'$zz' is not a valid integer value"},
        // The check field is decoded before the addresses are looked at.
        FailureCase{"CheckFieldBeforeAddresses", PackageFile(FieldsText({{13, "x1"}, {21, "a"}})),
                    "EConvertError", "'$x1' is not a valid integer value"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
