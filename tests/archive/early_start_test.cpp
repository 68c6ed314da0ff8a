// The largest entries are written before the reader reaches them, into files without a name
// that get theirs in the entry's turn. Such files are Linux's; elsewhere every entry waits.
//
// The first entry of these archives is held until a large entry's data is opened. In directory
// order that never happens: the reader stays a bounded number of entries ahead of the oldest
// unwritten one, and the large entries come after more entries than that.
#include "compression_handlers.h"
#include "entry_pool.h"
#include "extraction_fixture.h"
#include "failure.h"
#include "zip_builder.h"
#include "zip_extract.h"

#include <QDir>
#include <QFileInfo>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <sys/stat.h>

namespace {

constexpr int HeldMethod = 12;   // stored data, opened once the gate is
constexpr int OpenerMethod = 13; // stored data that opens the gate

class EarlyStart : public ExtractionTest {
protected:
    void SetUp() override
    {
        RegisterCompressionHandler(TZipCompression(HeldMethod), nullptr,
                                   [this](QIODevice &Source, const TZipFile &, const TZipHeader &) {
                                       std::unique_lock Lock(GateLock);
                                       HeldTooLong =
                                           !GateOpened.wait_for(Lock, GateLimit, [this] { return Open; });
                                       return std::make_unique<TStoredStream>(Source);
                                   });
        RegisterCompressionHandler(TZipCompression(OpenerMethod), nullptr,
                                   [this](QIODevice &Source, const TZipFile &, const TZipHeader &) {
                                       if (OnOpening)
                                           OnOpening();
                                       std::lock_guard Lock(GateLock);
                                       Open = true;
                                       GateOpened.notify_all();
                                       return std::make_unique<TStoredStream>(Source);
                                   });
    }
    void TearDown() override
    {
        RegisterCompressionHandler(TZipCompression(HeldMethod), nullptr, nullptr);
        RegisterCompressionHandler(TZipCompression(OpenerMethod), nullptr, nullptr);
    }

    // The held entry, more entries than the reader may run ahead, then Late.
    void WriteArchiveEndingWith(const QList<CraftedEntry> &Late) const
    {
        CraftedEntry Held = CraftedEntry::Stored("first.txt", "first");
        Held.Method = HeldMethod;
        QList<CraftedEntry> Entries{Held};
        for (int Index = 0; Index <= TEntryPool::MaxRunAhead; ++Index)
            Entries += CraftedEntry::Stored("small/" + QByteArray::number(Index), QByteArray::number(Index));
        for (CraftedEntry Entry : Late) {
            Entry.Method = OpenerMethod;
            Entries += Entry;
        }
        WriteArchive(BuildZip(Entries));
    }

    std::optional<QString> ExtractWith(int Threads, TExtractControl *Control = nullptr) const
    {
        TExtractOptions Options;
        Options.Threads = Threads;
        Options.Control = Control;
        try {
            ExtractZipFile(Archive(), Destination(), 936, Options);
        } catch (const Failure &Error) {
            return Error.Message();
        }
        return std::nullopt;
    }

    std::mutex GateLock;
    std::condition_variable GateOpened;
    bool Open = false;
    bool HeldTooLong = false;
    std::function<void()> OnOpening;
    std::chrono::milliseconds GateLimit{20000};
};

CraftedEntry LargeStored(const QByteArray &Name, quint32 Seed)
{
    return CraftedEntry::Stored(Name, Noise(TEntryPool::EarlyStartSize, Seed));
}

TEST_F(EarlyStart, NamesTheFileInItsTurnWithItsTimeAndPermissions)
{
    const mode_t Mask = umask(022);
    CraftedEntry ReadOnly = LargeStored("late/read-only.bin", 1);
    ReadOnly.ExternalAttributes = 0x21;
    CraftedEntry Executable = LargeStored("late/tool", 2);
    Executable.MadeBy = 0x0314;
    Executable.ExternalAttributes = 0100750u << 16;
    CraftedEntry Plain = LargeStored("plain.bin", 3);
    for (CraftedEntry *Entry : {&ReadOnly, &Executable, &Plain})
        Entry->DosDateTime = (40u << 25) | (2u << 21) | (29u << 16) | (13u << 11) | (45u << 5) | 29u;
    WriteArchiveEndingWith({ReadOnly, Executable, Plain});

    const std::optional<QString> Failure = ExtractWith(4);
    umask(Mask);
    EXPECT_EQ(Failure, std::nullopt);
    EXPECT_FALSE(HeldTooLong) << "no large entry was started before its turn";
    const FileTree Tree = Extracted();
    EXPECT_EQ(Tree.value("first.txt"), "first");
    EXPECT_EQ(Tree.value("small/1024"), "1024");
    EXPECT_EQ(Tree.value("late/read-only.bin"), Noise(TEntryPool::EarlyStartSize, 1));
    EXPECT_EQ(Tree.value("late/tool"), Noise(TEntryPool::EarlyStartSize, 2));
    EXPECT_EQ(Tree.value("plain.bin"), Noise(TEntryPool::EarlyStartSize, 3));
    // first.txt, small/ and what it holds, late/ and the three large files: nothing else
    EXPECT_EQ(Tree.size(), 1 + 1 + (TEntryPool::MaxRunAhead + 1) + 1 + 3);
    const QDateTime LeapDay(QDate(2020, 2, 29), QTime(13, 45, 58));
    EXPECT_EQ(ModeOf(Destination() + "/late/read-only.bin"), 0444u);
    EXPECT_EQ(QFileInfo(Destination() + "/late/read-only.bin").lastModified(), LeapDay);
    EXPECT_EQ(ModeOf(Destination() + "/late/tool"), 0750u);
    EXPECT_EQ(QFileInfo(Destination() + "/late/tool").lastModified(), LeapDay);
    EXPECT_EQ(ModeOf(Destination() + "/plain.bin"), 0644u);
    EXPECT_EQ(QFileInfo(Destination() + "/plain.bin").lastModified(), LeapDay);
}

// Into a folder that already holds something, a large entry may meet its own name there, and
// writing it early would be work done twice: every entry waits for its turn.
TEST_F(EarlyStart, WaitsForItsTurnInAFolderThatHoldsAnything)
{
    WriteArchiveEndingWith({LargeStored("late.bin", 4)});
    ASSERT_TRUE(QDir().mkpath(Destination() + "/kept"));
    GateLimit = std::chrono::seconds(2); // then the held entry goes on
    EXPECT_EQ(ExtractWith(2), std::nullopt);
    EXPECT_TRUE(HeldTooLong) << "a large entry was started before its turn";
    EXPECT_EQ(Extracted().value("late.bin"), Noise(TEntryPool::EarlyStartSize, 4));
}

// A stop while a large entry is written ahead of its turn ends the run with the stop, and
// leaves nothing of that entry.
TEST_F(EarlyStart, AStopLeavesNothingOfIt)
{
    TExtractControl Control;
    OnOpening = [&Control] { Control.Stop = true; };
    WriteArchiveEndingWith({LargeStored("late.bin", 5)});
    EXPECT_EQ(ExtractWith(2, &Control), "Operation aborted");
    EXPECT_FALSE(HeldTooLong);
    EXPECT_FALSE(QFileInfo::exists(Destination() + "/late.bin"));
    EXPECT_LE(Extracted().size(), TEntryPool::MaxRunAhead + 3);
}

// A run that fails at its first entry makes nothing, the destination included, whatever comes
// after it.
TEST_F(EarlyStart, NothingStartsAfterAFailingFirstEntry)
{
    WriteArchive(BuildZip({CraftedEntry::Stored("a|b.txt", "x"), LargeStored("late.bin", 6)}));
    EXPECT_EQ(ExtractWith(2), "Invalid characters in path");
    EXPECT_FALSE(QFileInfo::exists(Destination()));
}

} // namespace
