// Entries written on several threads: the failure reported, and what is left, are those of a
// run in directory order, whichever entry fails first in time.
#include "extraction_fixture.h"
#include "failure.h"
#include "zip_builder.h"
#include "zip_extract.h"

#include <QDir>

namespace {

constexpr int Fillers = 200;
constexpr int Middle = 100;

QByteArray FillerText(int Index)
{
    QByteArray Text;
    while (Text.size() < 2000 + 37 * Index)
        Text += "entry " + QByteArray::number(Index) + " line " + QByteArray::number(Text.size()) + '\n';
    return Text;
}

CraftedEntry Corrupt(const QByteArray &Name)
{
    CraftedEntry Entry = CraftedEntry::Deflated(Name, FillerText(1));
    Entry.Payload = QByteArray("\xff\xff\xff\xff", 4);
    return Entry;
}

// Slow to write, and refused only once written.
CraftedEntry BigWithWrongCrc()
{
    CraftedEntry Entry = CraftedEntry::Stored("big.bin", QByteArray(6 << 20, 'b'));
    Entry.Crc ^= 1;
    return Entry;
}

CraftedEntry ShortStream()
{
    CraftedEntry Entry = CraftedEntry::Deflated("short.txt", FillerText(2));
    Entry.UncompressedSize += 100;
    return Entry;
}

struct OrderCase {
    const char *What;
    QList<CraftedEntry> Inserted; // at Middle, in this order
    QString Failure;
};

class WorkerOrderTable : public ExtractionTest, public ::testing::WithParamInterface<OrderCase> {
protected:
    std::optional<QString> ExtractWith(int Threads, const QString &Into) const
    {
        TExtractOptions Options;
        Options.Threads = Threads;
        try {
            ExtractZipFile(Archive(), Into, 936, Options);
        } catch (const Failure &Error) {
            return Error.Message();
        }
        return std::nullopt;
    }
};

TEST_P(WorkerOrderTable, ReportsTheFailureOfTheRunInDirectoryOrder)
{
    const OrderCase &Case = GetParam();
    QList<CraftedEntry> Entries;
    for (int Index = 0; Index < Fillers; ++Index) {
        if (Index == Middle)
            Entries += Case.Inserted;
        Entries += CraftedEntry::Deflated(
            "d" + QByteArray::number(Index % 7) + "/f" + QByteArray::number(Index), FillerText(Index));
    }
    WriteArchive(BuildZip(Entries));

    const QString InOrder = Scratch.filePath("one");
    EXPECT_EQ(ExtractWith(1, InOrder), Case.Failure);
    const FileTree Expected = ReadTree(InOrder);
    for (const int Threads : {2, 4, 8}) {
        SCOPED_TRACE(Threads);
        const QString Parallel = Scratch.filePath(QString::number(Threads));
        EXPECT_EQ(ExtractWith(Threads, Parallel), Case.Failure);
        EXPECT_EQ(ReadTree(Parallel), Expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Order, WorkerOrderTable,
    ::testing::Values(OrderCase{"corrupt deflate data", {Corrupt("bad.txt")}, "data error"},
                      OrderCase{"deflate stream shorter than the size", {ShortStream()}, "Stream read error"},
                      OrderCase{"a slow failure before a quick one",
                                {BigWithWrongCrc(), Corrupt("bad.txt")},
                                "CRC-32 mismatch in \"big.bin\""},
                      OrderCase{"a slow failure before a bad name",
                                {BigWithWrongCrc(), CraftedEntry::Stored("a|b.txt", "x")},
                                "CRC-32 mismatch in \"big.bin\""},
                      OrderCase{"a bad name before a slow failure",
                                {CraftedEntry::Stored("a|b.txt", "x"), BigWithWrongCrc()},
                                "Invalid characters in path"}));

TEST_F(ExtractionTest, AStopEndsTheRunBeforeTheNextEntry)
{
    WriteArchive(BuildZip({CraftedEntry::Stored("a.txt", "a"), CraftedEntry::Stored("b.txt", "b")}));
    for (const int Threads : {1, 4}) {
        TExtractControl Control;
        Control.Stop = true;
        TExtractOptions Options;
        Options.Threads = Threads;
        Options.Control = &Control;
        const QString Into = Scratch.filePath(QString::number(Threads));
        EXPECT_THROW(
            try { ExtractZipFile(Archive(), Into, 936, Options); } catch (const Failure &Error) {
                EXPECT_EQ(Error.Message(), "Operation aborted");
                throw;
            },
            Failure);
        EXPECT_TRUE(QDir(Into).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot)) << Threads;
        EXPECT_EQ(Control.Written.load(), 0u);
    }
}

} // namespace
