// Extracting entries: every entry-level failure, and what each leaves on disk. Each archive
// holds a good entry before the case's entry and one after it.
#include "extraction_fixture.h"
#include "zip_builder.h"

#include "compression_handlers.h"
#include "zip_extract.h"

#include <QDateTime>
#include <QFileInfo>
#include <csignal>
#include <ctime>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

CraftedEntry WithMethod(CraftedEntry Entry, quint16 Method)
{
    Entry.Method = Method;
    return Entry;
}

CraftedEntry WithSize(CraftedEntry Entry, quint32 Size)
{
    Entry.UncompressedSize = Size;
    return Entry;
}

CraftedEntry WithFlag(CraftedEntry Entry, quint16 Flag)
{
    Entry.Flag = Flag;
    return Entry;
}

CraftedEntry WithCrc(CraftedEntry Entry, quint32 Crc)
{
    Entry.Crc = Crc;
    return Entry;
}

CraftedEntry WithPayload(CraftedEntry Entry, const QByteArray &Payload)
{
    Entry.Payload = Payload;
    return Entry;
}

const QByteArray Big = Noise(1536 * 1024, 7);

struct EntryCase {
    const char *What;
    CraftedEntry Entry;
    std::optional<QString> Failure;
    FileTree Left; // besides first.txt
};

class EntryTable : public ExtractionTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(EntryTable, FailsAtTheEntryAndKeepsWhatCameBefore)
{
    const EntryCase &Case = GetParam();
    const QByteArray Zip = BuildZip(
        {CraftedEntry::Stored("first.txt", "one"), Case.Entry, CraftedEntry::Stored("after.txt", "two")});
    EXPECT_EQ(Extract(Zip), Case.Failure) << Case.What;
    FileTree Expected = Case.Left;
    Expected.insert("first.txt", "one");
    if (!Case.Failure)
        Expected.insert("after.txt", "two");
    EXPECT_EQ(Extracted(), Expected) << Case.What;
}

const QByteArray DataDescriptor = QByteArray("PK\x07\x08", 4) + QByteArray(12, '\x55');
const QByteArray Hello = "hello, world";

INSTANTIATE_TEST_SUITE_P(
    Entries, EntryTable,
    ::testing::Values(
        EntryCase{"stored", CraftedEntry::Stored("s.txt", Hello), std::nullopt, {{"s.txt", Hello}}},
        EntryCase{"deflated", CraftedEntry::Deflated("d.txt", Hello), std::nullopt, {{"d.txt", Hello}}},
        EntryCase{"0x0108 is deflated",
                  WithMethod(CraftedEntry::Deflated("d.txt", Hello), 0x0108),
                  std::nullopt,
                  {{"d.txt", Hello}}},
        EntryCase{"0x0100 is stored",
                  WithMethod(CraftedEntry::Stored("s.txt", Hello), 0x0100),
                  std::nullopt,
                  {{"s.txt", Hello}}},
        EntryCase{"method 12", WithMethod(CraftedEntry::Stored("m.txt", {}), 12), "Item not found", {}},
        EntryCase{"method 9", WithMethod(CraftedEntry::Stored("m.txt", Hello), 9), "Item not found", {}},
        EntryCase{"method 14", WithMethod(CraftedEntry::Stored("m.txt", {}), 14), "Item not found", {}},
        EntryCase{"method 99", WithMethod(CraftedEntry::Stored("m.txt", {}), 99), "Item not found", {}},
        EntryCase{"size 0 reads none of the data",
                  WithPayload(WithFlag(CraftedEntry::Stored("e.txt", {}), 0x0009), "junk"),
                  std::nullopt,
                  {{"e.txt", ""}}},
        EntryCase{"size 0 deflated reads none of the data",
                  WithPayload(WithMethod(CraftedEntry::Stored("e.txt", {}), 8), "\xff\xff"),
                  std::nullopt,
                  {{"e.txt", ""}}},
        EntryCase{
            "data descriptor after the data is never read",
            WithFlag(WithPayload(CraftedEntry::Deflated("dd.txt", Hello), RawDeflate(Hello) + DataDescriptor),
                     0x0008),
            std::nullopt,
            {{"dd.txt", Hello}}},
        EntryCase{"encrypted stored entry is written raw",
                  WithFlag(CraftedEntry::Stored("enc.bin", Hello), 0x0001),
                  std::nullopt,
                  {{"enc.bin", Hello}}},
        EntryCase{"wrong CRC-32: written, then refused",
                  WithCrc(CraftedEntry::Stored("bad.txt", Hello), 0x12345678),
                  "CRC-32 mismatch in \"bad.txt\"",
                  {{"bad.txt", Hello}}},
        EntryCase{"wrong CRC-32 of an empty file",
                  WithCrc(CraftedEntry::Stored("empty.txt", {}), 1),
                  "CRC-32 mismatch in \"empty.txt\"",
                  {{"empty.txt", ""}}},
        EntryCase{"corrupt deflate data",
                  WithPayload(CraftedEntry::Deflated("z.txt", Hello), "\xff\xff\xff\xff"),
                  "data error",
                  {{"z.txt", ""}}},
        EntryCase{"deflate stream shorter than the size",
                  WithSize(CraftedEntry::Deflated("short.txt", Hello), 100),
                  "Stream read error",
                  {{"short.txt", ""}}},
        EntryCase{"deflated data over both buffers",
                  CraftedEntry::Deflated("big.bin", Big),
                  std::nullopt,
                  {{"big.bin", Big}}},
        EntryCase{"stored data over the copy buffer",
                  CraftedEntry::Stored("big.bin", Big),
                  std::nullopt,
                  {{"big.bin", Big}}},
        EntryCase{"name with |", CraftedEntry::Stored("a|b.txt", Hello), "Invalid characters in path", {}},
        EntryCase{"name with a control character",
                  CraftedEntry::Stored("a\tb.txt", Hello),
                  "Invalid characters in path",
                  {}},
        EntryCase{"name with a NUL byte",
                  CraftedEntry::Stored(QByteArray("a\0b", 3), Hello),
                  "Invalid characters in path",
                  {}},
        EntryCase{"name with * ? and : is fine here",
                  CraftedEntry::Stored("a*?:.txt", Hello),
                  std::nullopt,
                  {{"a*?:.txt", Hello}}}));

TEST_F(ExtractionTest, BadLocalSignatureFailsAtThatEntry)
{
    QByteArray Zip =
        BuildZip({CraftedEntry::Stored("first.txt", "one"), CraftedEntry::Stored("second.txt", "two")});
    Zip[Zip.indexOf("PK\x03\x04", 1) + 3] = 9;
    EXPECT_EQ(Extract(Zip), "Invalid Zip Local Header signature");
    EXPECT_EQ(Extracted(), (FileTree{{"first.txt", "one"}}));
}

TEST_F(ExtractionTest, LocalHeaderCutShortByTheEndFails)
{
    QByteArray Zip = BuildZip({CraftedEntry::Stored("first.txt", "one")});
    Zip.append("PK\x03\x04", 4).append(10, '\0');
    // Point the only entry at the local header cut short after the end record.
    Zip.replace(Zip.lastIndexOf("PK\x05\x06") - 4, 4, QByteArray::fromRawData("\0\0\0\0", 4));
    const int At = int(Zip.size() - 14);
    const char Offset[4] = {char(At), char(At >> 8), 0, 0};
    Zip.replace(Zip.indexOf("PK\x01\x02") + 42, 4, QByteArray(Offset, 4));
    EXPECT_EQ(Extract(Zip), "Error reading zip file");
    EXPECT_EQ(Extracted(), FileTree{});
}

// The entry's data runs into the central directory and the end of the archive: the complete
// first block is written, the second is not.
TEST_F(ExtractionTest, StoredEntryCutShortKeepsItsCompleteBlocks)
{
    EXPECT_EQ(Extract(BuildZip({CraftedEntry::Stored("first.txt", "one"),
                                WithSize(CraftedEntry::Stored("cut.bin", Big), 2 << 20)})),
              "Stream read error");
    EXPECT_EQ(Extracted(), (FileTree{{"first.txt", "one"}, {"cut.bin", Big.left(1 << 20)}}));
}

// A file size limit stands in for a full disk: the write that falls short fails the entry.
TEST_F(ExtractionTest, ShortWriteFailsAndKeepsWhatWasWritten)
{
    WriteArchive(
        BuildZip({CraftedEntry::Stored("first.txt", "one"), CraftedEntry::Deflated("big.bin", Big)}));
    constexpr rlim_t Limit = (1 << 20) + 1000;
    rlimit Saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &Saved), 0);
    const rlimit Limited{Limit, Saved.rlim_max};
    const sighandler_t Handler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &Limited), 0);
    const std::optional<QString> Failure = Extract();
    setrlimit(RLIMIT_FSIZE, &Saved);
    signal(SIGXFSZ, Handler);
    EXPECT_EQ(Failure, "Stream write error");
    EXPECT_EQ(Extracted(), (FileTree{{"first.txt", "one"}, {"big.bin", Big.left(Limit)}}));
}

TEST_F(ExtractionTest, LaterDuplicateReplacesTheEarlierFile)
{
    EXPECT_EQ(Extract(BuildZip({CraftedEntry::Stored("dup.txt", "the first, longer one"),
                                CraftedEntry::Deflated("dup.txt", "second")})),
              std::nullopt);
    EXPECT_EQ(Extracted(), (FileTree{{"dup.txt", "second"}}));
}

TEST_F(ExtractionTest, FoldersExplicitAndImplied)
{
    EXPECT_EQ(
        Extract(BuildZip({CraftedEntry::Folder("docs/"), CraftedEntry::Folder("empty\\"),
                          CraftedEntry::Stored("a/b/c.txt", "c"), CraftedEntry::Stored("x\\y\\z.txt", "z"),
                          CraftedEntry::Stored("a/./b/../d.txt", "d")})),
        std::nullopt);
    EXPECT_EQ(Extracted(), (FileTree{{"docs/", {}},
                                     {"empty/", {}},
                                     {"a/", {}},
                                     {"a/b/", {}},
                                     {"a/b/c.txt", "c"},
                                     {"x/", {}},
                                     {"x/y/", {}},
                                     {"x/y/z.txt", "z"},
                                     {"a/d.txt", "d"}}));
}

TEST_F(ExtractionTest, EmptyNameIsTheDestinationItself)
{
    const QByteArray Zip =
        BuildZip({CraftedEntry::Stored("first.txt", "one"), CraftedEntry::Stored("", "x")});
    EXPECT_EQ(Extract(Zip), QString("Cannot create file \"%1\". Is a directory").arg(Destination()));
    EXPECT_EQ(Extracted(), (FileTree{{"first.txt", "one"}}));
}

TEST_F(ExtractionTest, EmptyNameWithTrailingSeparatorIsAFolderEntry)
{
    WriteArchive(BuildZip({CraftedEntry::Stored("", "x"), CraftedEntry::Stored("first.txt", "one")}));
    EXPECT_NO_THROW(ExtractZipFile(Archive(), Destination() + "/", 936));
    EXPECT_EQ(Extracted(), (FileTree{{"first.txt", "one"}}));
}

// A file entry whose name ends in "." or ".." names a folder: the folder is there (or made)
// and no file is made in its place.
TEST_F(ExtractionTest, FileNameEndingAtAFolderFailsToCreate)
{
    const QList<std::pair<QByteArray, QString>> Cases{
        {"x/.", "/x"}, {"a/b/..", "/a"}, {"c\\d\\.\\..", "/c"}, {"a/..", ""}};
    for (const auto &[Name, Folder] : Cases) {
        const QString Path = Destination() + Folder;
        EXPECT_EQ(Extract(BuildZip({CraftedEntry::Stored(Name, "data")})),
                  QString("Cannot create file \"%1\". Is a directory").arg(Path))
            << Name.constData();
        EXPECT_TRUE(QFileInfo(Path).isDir()) << Name.constData();
    }
}

TEST_F(ExtractionTest, FileWhereAFolderIsNeededFailsToCreate)
{
    const QByteArray Zip =
        BuildZip({CraftedEntry::Stored("a", "file"), CraftedEntry::Stored("a/b.txt", "b")});
    EXPECT_EQ(Extract(Zip), QString("Cannot create file \"%1/a/b.txt\". Not a directory").arg(Destination()));
    EXPECT_EQ(Extracted(), (FileTree{{"a", "file"}}));
}

TEST_F(ExtractionTest, TooLongNameFailsToCreate)
{
    const QByteArray Long(300, 'n');
    const QByteArray Zip =
        BuildZip({CraftedEntry::Stored("first.txt", "one"), CraftedEntry::Stored(Long, "x")});
    EXPECT_EQ(Extract(Zip),
              QString("Cannot create file \"%1/%2\". File name too long").arg(Destination(), Long));
    QByteArray Deep;
    for (int Level = 0; Level < 20; ++Level)
        Deep += QByteArray(250, char('a' + Level)) + '/';
    EXPECT_EQ(Extract(BuildZip({CraftedEntry::Stored(Deep + "f", "x")})),
              QString("Cannot create file \"%1/%2f\". File name too long").arg(Destination(), Deep));
}

TEST_F(ExtractionTest, RegisteredHandlerServesItsMethod)
{
    const CraftedEntry Entry = WithMethod(CraftedEntry::Stored("m.txt", Hello), 12);
    RegisterCompressionHandler(
        12, nullptr,
        [](QIODevice &InStream, const TZipFile &, const TZipHeader &) -> std::unique_ptr<TZipStream> {
            return std::make_unique<TStoredStream>(InStream);
        });
    const std::optional<QString> Served = Extract(BuildZip({Entry}));
    RegisterCompressionHandler(12, nullptr, nullptr);
    EXPECT_EQ(Served, std::nullopt);
    EXPECT_EQ(Extracted(), (FileTree{{"m.txt", Hello}}));
    EXPECT_EQ(Extract(BuildZip({Entry})), "Item not found");
}

// DOS attributes (host 0) and Unix modes (host 3) and DOS times as the files get them.
struct StampCase {
    const char *What;
    quint16 MadeBy;
    quint32 ExternalAttributes;
    quint32 DosDateTime;
    uint Mode;          // 0: as the file was created
    QDateTime Modified; // invalid: as the write left it
};

class StampTable : public ExtractionTest, public ::testing::WithParamInterface<StampCase> {};

TEST_P(StampTable, SetsTimeAndPermissions)
{
    const StampCase &Case = GetParam();
    const mode_t Mask = umask(022);
    CraftedEntry Entry = CraftedEntry::Stored("f.txt", "data");
    Entry.MadeBy = Case.MadeBy;
    Entry.ExternalAttributes = Case.ExternalAttributes;
    Entry.DosDateTime = Case.DosDateTime;
    const QDateTime Before = QDateTime::currentDateTime().addSecs(-2);
    EXPECT_EQ(Extract(BuildZip({Entry})), std::nullopt) << Case.What;
    umask(Mask);
    const QFileInfo Info(Destination() + "/f.txt");
    EXPECT_EQ(ModeOf(Info.filePath()), Case.Mode ? Case.Mode : 0644) << Case.What;
    if (Case.Modified.isValid())
        EXPECT_EQ(Info.lastModified(), Case.Modified) << Case.What;
    else
        EXPECT_GE(Info.lastModified(), Before) << Case.What;
}

const QDateTime LeapDay(QDate(2020, 2, 29), QTime(13, 45, 58));
constexpr quint32 LeapDayDos = (40u << 25) | (2u << 21) | (29u << 16) | (13u << 11) | (45u << 5) | 29u;

INSTANTIATE_TEST_SUITE_P(
    Stamps, StampTable,
    ::testing::Values(
        StampCase{"DOS read-only and archive", 0x0014, 0x21, LeapDayDos, 0444, LeapDay},
        StampCase{"DOS archive bit only", 0x0014, 0x20, LeapDayDos, 0, LeapDay},
        StampCase{"Unix mode 0750", 0x0314, 0100750u << 16, LeapDayDos, 0750, LeapDay},
        StampCase{"Unix read-only mode keeps the owner's write bit", 0x0314, 0100555u << 16, LeapDayDos, 0755,
                  LeapDay},
        StampCase{"Unix without mode bits", 0x0314, 0x01, LeapDayDos, 0, LeapDay},
        StampCase{"Unix symbolic link becomes a plain file", 0x0314, 0120777u << 16, LeapDayDos, 0, LeapDay},
        StampCase{"other host leaves the attributes", 0x0B14, 0x01, LeapDayDos, 0, LeapDay},
        StampCase{"time 0", 0x0014, 0x01, 0, 0444, {}},
        StampCase{"seconds field 30", 0x0014, 0, (LeapDayDos & ~0x1Fu) | 30u, 0, {}},
        StampCase{"seconds field 31", 0x0014, 0, (LeapDayDos & ~0x1Fu) | 31u, 0, {}},
        StampCase{"February 30th", 0x0014, 0, (LeapDayDos & ~(0x1Fu << 16)) | (30u << 16), 0, {}},
        StampCase{"hour 24", 0x0014, 0, (LeapDayDos & ~(0x1Fu << 11)) | (24u << 11), 0, {}}));

// A wall-clock time that the change to daylight saving time skips still stamps the file, read
// with the offset in force before the change.
TEST_F(ExtractionTest, TimeSkippedByDaylightSavingTimeIsStillSet)
{
    const QByteArray Zone = qgetenv("TZ");
    qputenv("TZ", "America/New_York");
    tzset();
    CraftedEntry Entry = CraftedEntry::Stored("f.txt", "data");
    Entry.DosDateTime = (40u << 25) | (3u << 21) | (8u << 16) | (2u << 11) | (30u << 5); // 2020-03-08 02:30
    const std::optional<QString> Failure = Extract(BuildZip({Entry}));
    const qint64 Modified = QFileInfo(Destination() + "/f.txt").lastModified().toSecsSinceEpoch();
    if (Zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", Zone);
    tzset();
    EXPECT_EQ(Failure, std::nullopt);
    EXPECT_EQ(Modified, 1583652600); // 07:30 UTC
}

// Read-only holds for every user, the superuser included.
TEST_F(ExtractionTest, ReadOnlyFileBlocksTheNextExtraction)
{
    CraftedEntry Entry = CraftedEntry::Stored("ro.txt", "data");
    Entry.ExternalAttributes = 0x21;
    EXPECT_EQ(Extract(BuildZip({Entry})), std::nullopt);
    EXPECT_EQ(Extract(BuildZip({CraftedEntry::Stored("ro.txt", "other")})),
              QString("Cannot create file \"%1/ro.txt\". Permission denied").arg(Destination()));
    EXPECT_EQ(Extracted(), (FileTree{{"ro.txt", "data"}}));
}

TEST_F(ExtractionTest, UnixReadOnlyFileIsReplacedByTheNextExtraction)
{
    CraftedEntry Entry = CraftedEntry::Stored("setup.sh", "data");
    Entry.MadeBy = 0x0314;
    Entry.ExternalAttributes = 0100555u << 16;
    EXPECT_EQ(Extract(BuildZip({Entry})), std::nullopt);
    EXPECT_EQ(Extract(BuildZip({CraftedEntry::Stored("setup.sh", "more")})), std::nullopt);
    EXPECT_EQ(Extracted(), (FileTree{{"setup.sh", "more"}}));
}

} // namespace
