// Entry names: which bytes decide the name, how it is decoded, and names that would leave the
// destination folder.
#include "extraction_fixture.h"
#include "zip_builder.h"

#include "failure.h"
#include "zip_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QByteArray NiHaoGbk("\xC4\xE3\xBA\xC3", 4);
const QString NiHao = QString::fromUtf8("\xE4\xBD\xA0\xE5\xA5\xBD");
const QByteArray ShijieUtf8("\xE4\xB8\x96\xE7\x95\x8C", 6);
const QString Shijie = QString::fromUtf8(ShijieUtf8);
const QString Mapping = "No mapping for the Unicode character exists in the target multi-byte code page";

CraftedEntry Named(const QByteArray &Name, quint16 Flag = 0, const QByteArray &LocalExtra = {})
{
    CraftedEntry Entry = CraftedEntry::Stored(Name, "x");
    Entry.Flag = Flag;
    Entry.LocalExtra = LocalExtra;
    return Entry;
}

struct NameCase {
    const char *What;
    CraftedEntry Entry;
    int Encoding;
    std::optional<QString> Failure;
    QString FileName; // what the file is called when the name was accepted
};

class NameTable : public ExtractionTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(NameTable, DecodesTheName)
{
    const NameCase &Case = GetParam();
    WriteArchive(BuildZip({CraftedEntry::Stored("first.txt", "one"), Case.Entry}));
    EXPECT_EQ(Extract(Case.Encoding), Case.Failure) << Case.What;
    FileTree Expected{{"first.txt", "one"}};
    if (!Case.Failure)
        Expected.insert(Case.FileName, "x");
    EXPECT_EQ(Extracted(), Expected) << Case.What;
}

// A Unicode Path field whose stored name bytes are cut off by the end of the extra field.
QByteArray CutUnicodeField(const QByteArray &LocalName)
{
    return UnicodePathField(LocalName, "long-name.txt").chopped(4);
}

const QByteArray Padding = QByteArray("\x01\x00\x04\x00"
                                      "abcd",
                                      8);

INSTANTIATE_TEST_SUITE_P(
    Names, NameTable,
    ::testing::Values(
        NameCase{"GBK without the UTF-8 flag", Named(NiHaoGbk), 936, std::nullopt, NiHao},
        NameCase{"the same bytes with the flag", Named(NiHaoGbk, 0x0800), 936, Mapping, {}},
        NameCase{"UTF-8 with the flag", Named(ShijieUtf8, 0x0800), 936, std::nullopt, Shijie},
        NameCase{"undecodable GBK is replaced", Named("\x81\x20z"), 936, std::nullopt, QString(QChar(0xFFFD)) + " z"},
        NameCase{"a lead byte ending the name is replaced", Named("z\xC4"), 936, std::nullopt, "z" + QString(QChar(0xFFFD))},
        NameCase{"UTF-8 code page without the flag", Named(ShijieUtf8), 65001, std::nullopt, Shijie},
        NameCase{"Unicode Path field with matching CRC wins", Named(NiHaoGbk, 0, UnicodePathField(NiHaoGbk, ShijieUtf8)), 936, std::nullopt, Shijie},
        NameCase{"Unicode Path field after another extra block", Named("n.txt", 0, Padding + UnicodePathField("n.txt", ShijieUtf8)), 936, std::nullopt, Shijie},
        NameCase{"CRC mismatch: central name, later fields unread", Named(NiHaoGbk, 0, UnicodePathField(NiHaoGbk, "first-pair", 1) + UnicodePathField(NiHaoGbk, ShijieUtf8)), 936, std::nullopt, NiHao},
        NameCase{"Unicode Path field with invalid UTF-8", Named("n.txt", 0, UnicodePathField("n.txt", "\xC0\xAF")), 936, Mapping, {}},
        NameCase{"Unicode Path name beyond the field", Named("n.txt", 0, CutUnicodeField("n.txt")), 936, "Invalid count (13)", {}},
        NameCase{"Unicode Path size below 5", Named("n.txt", 0, UnicodePathField("n.txt", "").replace(2, 2, QByteArray("\x03\x00", 2))), 936, "Invalid count (-2)", {}},
        NameCase{"0x7075 in the last 8 bytes is no Unicode name", Named("n.txt", 0, QByteArray("\x00\x00\x00\x00", 4) + QByteArray("up\x05\x00\x01\x00\x00\x00", 8)), 936, std::nullopt, "n.txt"},
        NameCase{"local name differs from the central name", [] {
                     CraftedEntry Entry = Named("central.txt");
                     Entry.LocalName = QByteArray("local.txt");
                     return Entry;
                 }(), 936, std::nullopt, "central.txt"}));

// Names that are rooted or climb out are refused before anything is written for them.
class IllegalNameTable : public ExtractionTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(IllegalNameTable, RefusesTheEntry)
{
    const QByteArray Name = GetParam();
    const QByteArray Zip =
        BuildZip({CraftedEntry::Stored("first.txt", "one"), CraftedEntry::Stored(Name, "evil"),
                  CraftedEntry::Stored("after.txt", "two")});
    EXPECT_EQ(Extract(Zip), QString("Illegal path in archive: \"%1\"").arg(QString::fromLatin1(Name)));
    EXPECT_EQ(Extracted(), (FileTree{{"first.txt", "one"}}));
    EXPECT_EQ(ReadTree(Outside()).keys(), (QStringList{"archive.zip", "out/", "out/first.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Names, IllegalNameTable,
                         ::testing::Values("/tmp/evil.txt", "\\evil.txt", "C:evil.txt", "c:\\evil.txt",
                                           "\\\\?\\C:\\evil.txt", "../evil.txt", "..\\evil.txt",
                                           "a/../../evil.txt", "a/b/../../../evil.txt", "./../evil.txt",
                                           "../", ".."));

TEST_F(ExtractionTest, UnicodePathNameThatClimbsOutIsRefused)
{
    EXPECT_EQ(Extract(BuildZip({Named("ok.txt", 0, UnicodePathField("ok.txt", "../evil.txt"))})),
              "Illegal path in archive: \"../evil.txt\"");
    EXPECT_EQ(ReadTree(Outside()).keys(), QStringList{"archive.zip"});
}

TEST_F(ExtractionTest, DotDotThatStaysInsideIsAccepted)
{
    EXPECT_EQ(Extract(BuildZip(
                  {CraftedEntry::Stored("a/../b.txt", "b"), CraftedEntry::Stored("c/d/../../e.txt", "e")})),
              std::nullopt);
    EXPECT_EQ(Extracted(), (FileTree{{"b.txt", "b"}, {"e.txt", "e"}}));
}

// Levels are resolved by name, as full-path expansion does, so a/.. makes no folder a.
// Links already in the destination are never followed out of it.
TEST_F(ExtractionTest, DoesNotFollowLinksInTheDestination)
{
    const QString Target = Scratch.filePath("target");
    ASSERT_TRUE(QDir().mkpath(Target));
    ASSERT_TRUE(QDir().mkpath(Destination()));
    ASSERT_TRUE(QFile::link(Target, Destination() + "/folder-link"));
    ASSERT_TRUE(QFile::link(Target + "/victim.txt", Destination() + "/file-link"));
    EXPECT_EQ(Extract(BuildZip({CraftedEntry::Stored("folder-link/evil.txt", "evil")})),
              QString("Cannot create file \"%1/folder-link/evil.txt\". Not a directory").arg(Destination()));
    EXPECT_EQ(
        Extract(BuildZip({CraftedEntry::Stored("file-link", "evil")})),
        QString("Cannot create file \"%1/file-link\". Too many levels of symbolic links").arg(Destination()));
    EXPECT_EQ(
        Extract(BuildZip({CraftedEntry::Folder("folder-link/sub/"), CraftedEntry::Stored("ok.txt", "ok")})),
        std::nullopt);
    EXPECT_EQ(ReadTree(Target), FileTree{});
    EXPECT_EQ(QFileInfo(Destination() + "/ok.txt").size(), 2);
}

TEST_F(ExtractionTest, LinkEntryIsWrittenAsAPlainFile)
{
    CraftedEntry Link = CraftedEntry::Stored("link", "../target");
    Link.MadeBy = 0x0314;
    Link.ExternalAttributes = 0120777u << 16;
    EXPECT_EQ(Extract(BuildZip({Link})), std::nullopt);
    EXPECT_FALSE(QFileInfo(Destination() + "/link").isSymLink());
    EXPECT_EQ(Extracted(), (FileTree{{"link", "../target"}}));
}

TEST_F(ExtractionTest, ExtractWithoutSubfoldersKeepsTheLastLevel)
{
    WriteArchive(BuildZip({CraftedEntry::Stored("a/b/c.txt", "c")}));
    TZipFile Zip;
    EXPECT_THROW(Zip.ExtractAll(Destination()), Failure);
    Zip.Open(Archive(), zmRead);
    EXPECT_EQ(Zip.Mode(), zmRead);
    ASSERT_EQ(Zip.Files().size(), 1u);
    Zip.Extract(0, Destination(), false);
    EXPECT_EQ(Extracted(), (FileTree{{"c.txt", "c"}}));
    Zip.Close();
    EXPECT_EQ(Zip.Mode(), zmClosed);
    EXPECT_TRUE(Zip.Files().empty());
    try {
        Zip.ExtractAll(Destination());
        FAIL() << "no failure";
    } catch (const Failure &Error) {
        EXPECT_EQ(Error.Message(), "File must be open for reading");
    }
}

} // namespace
