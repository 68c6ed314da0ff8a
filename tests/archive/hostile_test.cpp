// Archives made to cost far more than they hold: what each may write, and how long it takes.
#include "extraction_fixture.h"
#include "zip_builder.h"

#include "failure.h"
#include "zip_extract.h"

#include <QDir>
#include <QFileInfo>

namespace {

CraftedEntry Claiming(CraftedEntry Entry, quint32 CompressedSize)
{
    Entry.CompressedSize = CompressedSize;
    return Entry;
}

// Deflated zeros whose directory size is only a part of them, with that part's CRC-32.
CraftedEntry Inflating(const QByteArray &Name, quint32 Size)
{
    CraftedEntry Entry = CraftedEntry::Deflated(Name, QByteArray(4 << 20, '\0'));
    Entry.UncompressedSize = Size;
    Entry.Crc = Crc32(QByteArray(Size, '\0'));
    return Entry;
}

const QByteArray Zeros = QByteArray(1 << 20, '\0');

struct HostileCase {
    const char *What;
    QList<CraftedEntry> Entries;
    std::optional<QString> Failure;
    FileTree Left;
};

class HostileTable : public ExtractionTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileTable, IsRefusedOrBoundedAndWritesNothingOutside)
{
    const HostileCase &Case = GetParam();
    EXPECT_EQ(Extract(BuildZip(Case.Entries)), Case.Failure);
    EXPECT_EQ(Extracted(), Case.Left);
    EXPECT_EQ(QDir(Outside()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QFileInfo::exists(Destination()) ? QStringList({"archive.zip", "out"})
                                               : QStringList{"archive.zip"});
}

INSTANTIATE_TEST_SUITE_P(
    Archives, HostileTable,
    ::testing::Values(
        HostileCase{"entries sharing one local header",
                    {CraftedEntry::Stored("first.txt", "one"), CraftedEntry::Deflated("a.bin", Zeros),
                     Sharing(CraftedEntry::Deflated("a.bin", Zeros), 1)},
                    "Zip entry 3 overlaps entry 2",
                    {}},
        HostileCase{"sharing entries that claim no compressed data",
                    {Claiming(CraftedEntry::Deflated("a.bin", Zeros), 0),
                     Sharing(Claiming(CraftedEntry::Deflated("a.bin", Zeros), 0), 0)},
                    "Zip entry 2 overlaps entry 1",
                    {}},
        HostileCase{
            "compressed data running over the next entry",
            {Claiming(CraftedEntry::Stored("a.txt", "alpha"), 44), CraftedEntry::Stored("b.txt", "beta")},
            "Zip entry 2 overlaps entry 1",
            {}},
        HostileCase{
            "compressed data running into the central directory",
            {CraftedEntry::Stored("a.txt", "alpha"), Claiming(CraftedEntry::Stored("b.txt", "beta"), 5)},
            "Zip entry 2 overlaps the central directory",
            {}},
        HostileCase{"an entry that inflates past its size",
                    {CraftedEntry::Stored("first.txt", "one"), Inflating("bomb.bin", 1000),
                     CraftedEntry::Stored("after.txt", "two")},
                    "Entry \"bomb.bin\" holds more data than its size of 1000 bytes",
                    {{"first.txt", "one"}, {"bomb.bin", QByteArray(1000, '\0')}}},
        HostileCase{"empty entries may share a local header",
                    {CraftedEntry::Folder("d/"), Sharing(CraftedEntry::Folder("d/"), 0),
                     CraftedEntry::Stored("e.txt", {}), Sharing(CraftedEntry::Stored("e.txt", {}), 2)},
                    std::nullopt,
                    {{"d/", {}}, {"e.txt", {}}}}));

TEST_F(ExtractionTest, DeclaredUnpackedSizeSumsTheDirectory)
{
    CraftedEntry Huge = CraftedEntry::Stored("b.bin", "b");
    Huge.UncompressedSize = 4000000000U;
    WriteArchive(BuildZip({CraftedEntry::Stored("a.txt", "alpha"), Huge, CraftedEntry::Folder("d/")}));
    EXPECT_EQ(DeclaredUnpackedSize(Archive()), 4000000005ULL);
    WriteArchive(BuildZip(
        {CraftedEntry::Deflated("a.bin", Zeros), Sharing(CraftedEntry::Deflated("a.bin", Zeros), 0)}));
    EXPECT_THROW(DeclaredUnpackedSize(Archive()), Failure);
    EXPECT_FALSE(QFileInfo::exists(Destination()));
}

// Reading a directory of 65,535 records takes a while, so a stop is looked at during it.
TEST_F(ExtractionTest, AStopEndsTheReadingOfTheDirectory)
{
    WriteArchive(BuildZip({CraftedEntry::Stored("a.txt", "alpha")}));
    TExtractControl Control;
    EXPECT_EQ(DeclaredUnpackedSize(Archive(), &Control), 5u);
    Control.Stop = true;
    EXPECT_THROW(
        try { DeclaredUnpackedSize(Archive(), &Control); } catch (const Failure &Error) {
            EXPECT_EQ(Error.Message(), "Operation aborted");
            throw;
        },
        Failure);
}

} // namespace
