// Entries written on several threads: the failure reported, and what is left, are those of a
// run in directory order, whichever entry fails first in time.
#include "entry_pool.h"
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

// Large enough to be started before its turn where the system allows it.
CraftedEntry Huge(const QByteArray &Name)
{
    const QByteArray Line = FillerText(3);
    return CraftedEntry::Deflated(Name, Line.repeated(TEntryPool::EarlyStartSize / Line.size() + 1));
}

CraftedEntry HugeWithWrongCrc(const QByteArray &Name)
{
    CraftedEntry Entry = Huge(Name);
    Entry.Crc ^= 1;
    return Entry;
}

// Entries larger than a worker's own buffer, more of them than there are full writers: decoded
// whole by a full writer, streamed through the Inflater, stored in blocks, and one just small
// enough for the worker itself; half noise, so their compressed sizes count too.
QList<CraftedEntry> Large(const QByteArray &Prefix)
{
    QList<CraftedEntry> Entries;
    for (int Index = 0; Index < 4; ++Index) {
        const QByteArray Name = Prefix + QByteArray::number(Index);
        const QByteArray Half = Noise(60000 + 50000 * Index, quint32(Index));
        Entries += CraftedEntry::Deflated(Name + "-whole.bin", Half + FillerText(Index).repeated(8 * Index + 5));
        Entries += CraftedEntry::Deflated(Name + "-streamed.txt", FillerText(Index).repeated(1200));
        Entries += CraftedEntry::Stored(Name + "-stored.bin", Half.repeated(3));
        Entries += CraftedEntry::Deflated(Name + "-own.bin", Noise(120 << 10, quint32(Index + 9)));
    }
    return Entries;
}

// Stored deflate blocks with the first 200 KiB of its content, then a block of the reserved type.
CraftedEntry LargeCorrupt()
{
    const QByteArray Content = Noise(300 << 10, 77);
    QByteArray Stream;
    for (qsizetype At = 0; At < 200 << 10; At += 65535) {
        const QByteArray Part = Content.mid(At, qMin<qsizetype>(65535, (200 << 10) - At));
        const auto Length = quint16(Part.size());
        Stream += '\0';
        Stream += char(Length & 0xFF);
        Stream += char(Length >> 8);
        Stream += char(~Length & 0xFF);
        Stream += char(~Length >> 8 & 0xFF);
        Stream += Part;
    }
    CraftedEntry Entry = CraftedEntry::Deflated("large-bad.bin", Content);
    Entry.Payload = Stream + '\x07';
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
    std::optional<QString> Failure;
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
                                "Invalid characters in path"},
                      OrderCase{"large entries, all sound", Large("large"), std::nullopt},
                      OrderCase{"large entries, then a corrupt one among them",
                                Large("a") + QList{LargeCorrupt()} + Large("b"),
                                "data error"},
                      OrderCase{"a huge entry", {Huge("late/huge.log")}, std::nullopt},
                      OrderCase{"a huge entry with a wrong CRC-32",
                                {HugeWithWrongCrc("huge.log")},
                                "CRC-32 mismatch in \"huge.log\""},
                      OrderCase{"a corrupt entry before a huge one",
                                {Corrupt("bad.txt"), Huge("huge.log")},
                                "data error"},
                      OrderCase{"a bad name before a huge entry",
                                {CraftedEntry::Stored("a|b.txt", "x"), Huge("huge.log")},
                                "Invalid characters in path"},
                      OrderCase{"a huge entry with a bad name", {Huge("a|b.log")}, "Invalid characters in path"},
                      OrderCase{"a huge entry named as an earlier entry", {Huge("d1/f1")}, std::nullopt},
                      OrderCase{"two huge entries, the first with a wrong CRC-32",
                                {HugeWithWrongCrc("h1.log"), Huge("h2.log")},
                                "CRC-32 mismatch in \"h1.log\""},
                      OrderCase{"two huge entries, the second with a wrong CRC-32",
                                {Huge("h1.log"), HugeWithWrongCrc("h2.log")},
                                "CRC-32 mismatch in \"h2.log\""}));

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
