// How archive names meet the Windows file system: what is refused, what lands where, and the
// attributes and names the files get on disk.
#include "extraction_fixture.h"
#include "zip_builder.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <windows.h>

#include <cctype>

namespace {

struct PathCase {
    const char *Label;
    QByteArray Name;                     // the entry's name bytes (GBK, no UTF-8 flag)
    std::optional<QString> Failure;      // the message's start, with {dest} for the destination
    FileTree Expected;                   // the destination afterwards
};

void PrintTo(const PathCase &Case, std::ostream *Out)
{
    *Out << Case.Label;
}

class WindowsPathTable : public ExtractionTest, public ::testing::WithParamInterface<PathCase> {};

// The entry sits between two plain ones, so a refusal shows as the first kept and the last
// never reached, and anything written elsewhere shows up beside the destination.
TEST_P(WindowsPathTable, LandsWhereItSaysOrFails)
{
    const PathCase &Case = GetParam();
    const QByteArray Zip = BuildZip({CraftedEntry::Stored("first.txt", "one"), CraftedEntry::Stored(Case.Name, "data"),
                                     CraftedEntry::Stored("after.txt", "two")});
    const std::optional<QString> Message = Extract(Zip);
    if (Case.Failure) {
        ASSERT_TRUE(Message.has_value());
        const QString Start = QString(*Case.Failure).replace("{dest}", QDir::toNativeSeparators(Destination()));
        EXPECT_TRUE(Message->startsWith(Start)) << Message->toStdString() << "\nwanted: " << Start.toStdString();
        if (Start.startsWith(u"Cannot create file")) {
            EXPECT_GT(Message->size(), Start.size() + 2) << "no system text: " << Message->toStdString();
        }
    } else {
        EXPECT_EQ(Message, std::nullopt) << Message->toStdString();
    }
    EXPECT_EQ(Extracted(), Case.Expected);
    EXPECT_EQ(ReadTree(Outside()).keys().filter(QRegularExpression("^[^/]*$")), QStringList{"archive.zip"});
    EXPECT_FALSE(QFileInfo::exists("C:/evil.txt"));
    EXPECT_FALSE(QFileInfo::exists("D:/evil.txt"));
}

const QString Illegal = QStringLiteral("Illegal path in archive: ");
const QString CannotCreate = QStringLiteral("Cannot create file \"{dest}\\");
const FileTree FirstOnly{{"first.txt", "one"}};

FileTree WithFirstAndAfter(FileTree Tree)
{
    Tree.insert("first.txt", "one");
    Tree.insert("after.txt", "two");
    return Tree;
}

INSTANTIATE_TEST_SUITE_P(
    Windows, WindowsPathTable,
    ::testing::Values(
        PathCase{"drive letter with separator", "C:\\evil.txt", Illegal, FirstOnly},
        PathCase{"drive letter without separator", "c:evil.txt", Illegal, FirstOnly},
        PathCase{"drive letter with slash", "D:/evil.txt", Illegal, FirstOnly},
        PathCase{"UNC name", "\\\\server\\share\\evil.txt", Illegal, FirstOnly},
        PathCase{"UNC name with slashes", "//server/share/evil.txt", Illegal, FirstOnly},
        PathCase{"extended prefix", "\\\\?\\C:\\evil.txt", Illegal, FirstOnly},
        PathCase{"backslashes separate", "a\\b\\c.txt", std::nullopt,
                 WithFirstAndAfter({{"a/", {}}, {"a/b/", {}}, {"a/b/c.txt", "data"}})},
        PathCase{"mixed separators", "a/b\\c.txt", std::nullopt,
                 WithFirstAndAfter({{"a/", {}}, {"a/b/", {}}, {"a/b/c.txt", "data"}})},
        PathCase{"device name", "CON", CannotCreate + "CON\". ", FirstOnly},
        PathCase{"device name in lower case with an extension", "nul.txt", CannotCreate + "nul.txt\". ", FirstOnly},
        PathCase{"numbered device name", "com1.log", CannotCreate + "com1.log\". ", FirstOnly},
        PathCase{"device name as a folder", "lpt1\\x.txt", CannotCreate + "lpt1\\x.txt\". ", FirstOnly},
        PathCase{"trailing dot", "name.", CannotCreate + "name.\". ", FirstOnly},
        PathCase{"trailing blank", "name ", CannotCreate + "name \". ", FirstOnly},
        PathCase{"folder with a trailing dot", "dir.\\x.txt", CannotCreate + "dir.\\x.txt\". ", FirstOnly},
        PathCase{"wildcard", "a*b.txt", CannotCreate + "a*b.txt\". ", FirstOnly},
        PathCase{"colon names a stream", "a.txt:stream", "The path format is not supported", FirstOnly},
        PathCase{"colon in a folder", "x\\a:b\\c.txt", "The path format is not supported", FirstOnly},
        PathCase{"pipe", "a|b.txt", "Invalid characters in path", FirstOnly}),
    [](const auto &Info) {
        std::string Name;
        for (const char C : std::string(Info.param.Label))
            Name += std::isalnum(static_cast<unsigned char>(C)) ? C : '_';
        return Name;
    });

DWORD AttributesOf(const QString &Path)
{
    return GetFileAttributesW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(Path).utf16()));
}

TEST_F(ExtractionTest, GbkNamesAreTheirUnicodeNamesOnDisk)
{
    // 你好 as a folder, 世界.txt in it: the names the system lists are the decoded ones.
    ASSERT_EQ(Extract(BuildZip({CraftedEntry::Stored("\xC4\xE3\xBA\xC3\\\xCA\xC0\xBD\xE7.txt", "gbk")})),
              std::nullopt);
    const QString Folder = QString::fromUtf16(u"你好");
    const QString File = QString::fromUtf16(u"世界.txt");
    EXPECT_EQ(QDir(Destination()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{Folder});
    EXPECT_EQ(QDir(Destination() + u'/' + Folder).entryList(QDir::Files), QStringList{File});
    const std::wstring Wide = QDir::toNativeSeparators(Destination() + u'/' + Folder + u'/' + File).toStdWString();
    EXPECT_NE(GetFileAttributesW(Wide.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ExtractionTest, DosAttributesReplaceTheFilesOwn)
{
    CraftedEntry ReadOnly = CraftedEntry::Stored("ro.txt", "r");
    ReadOnly.ExternalAttributes = 0x21; // read-only, archive
    CraftedEntry Hidden = CraftedEntry::Stored("hidden.txt", "h");
    Hidden.ExternalAttributes = 0x02;
    CraftedEntry Plain = CraftedEntry::Stored("plain.txt", "p");
    Plain.ExternalAttributes = 0x00;
    ASSERT_EQ(Extract(BuildZip({ReadOnly, Hidden, Plain})), std::nullopt);
    // Wine reports the archive bit on every file, so only the bits it keeps are compared.
    constexpr DWORD Kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(AttributesOf(Destination() + "/ro.txt") & Kept, DWORD(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(AttributesOf(Destination() + "/hidden.txt") & Kept, DWORD(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(AttributesOf(Destination() + "/plain.txt") & Kept, DWORD(0));
}

TEST_F(ExtractionTest, ReadOnlyFileRefusesTheNextExtraction)
{
    CraftedEntry ReadOnly = CraftedEntry::Stored("ro.txt", "first");
    ReadOnly.ExternalAttributes = 0x01;
    const QByteArray Zip = BuildZip({ReadOnly});
    ASSERT_EQ(Extract(Zip), std::nullopt);
    const std::optional<QString> Second = Extract(Zip);
    ASSERT_TRUE(Second.has_value());
    EXPECT_TRUE(Second->startsWith(QString("Cannot create file \"%1\". ")
                                       .arg(QDir::toNativeSeparators(Destination() + "/ro.txt"))))
        << Second->toStdString();
    EXPECT_EQ(Extracted(), (FileTree{{"ro.txt", "first"}}));
}

TEST_F(ExtractionTest, CreationAndWriteTimesAreTheEntrysLocalTime)
{
    CraftedEntry Entry = CraftedEntry::Stored("t.txt", "t");
    Entry.DosDateTime = 0x50A56B5D; // 2020-05-05 13:26:58 local time
    ASSERT_EQ(Extract(BuildZip({Entry})), std::nullopt);
    const QFileInfo Info(Destination() + "/t.txt");
    const QDateTime Expected(QDate(2020, 5, 5), QTime(13, 26, 58));
    EXPECT_EQ(Info.lastModified(), Expected);
    EXPECT_EQ(Info.birthTime(), Expected);
}

TEST_F(ExtractionTest, FolderPathOfTooManyCharactersIsRefused)
{
    const QByteArray Deep = QByteArray(240, 'd') + "\\x.txt";
    const std::optional<QString> Message = Extract(BuildZip({CraftedEntry::Stored(Deep, "x")}));
    EXPECT_EQ(Message, "The specified path is too long");
    EXPECT_EQ(Extracted(), FileTree{});
}

} // namespace
