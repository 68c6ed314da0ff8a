#include "zip_file.h"

#include "archive_reads.h"
#include "compression_handlers.h"
#include "entry_names.h"
#include "entry_pool.h"
#include "failure.h"
#include "output_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <zlib.h>

namespace {

constexpr qint64 SearchWindowSize = 1027;
constexpr int UnicodePathId = 0x7075;

Failure ZipReadError()
{
    return Failure("EZipException", "Error reading zip file");
}

quint16 Get16(const char *Data)
{
    return qFromLittleEndian<quint16>(Data);
}

quint32 Get32(const char *Data)
{
    return qFromLittleEndian<quint32>(Data);
}

quint32 Crc32Of(const char *Data, qint64 Count, quint32 Crc = 0)
{
    return crc32_z(Crc, reinterpret_cast<const Bytef *>(Data), size_t(Count));
}

} // namespace

TZipFile::~TZipFile()
{
    Close();
}

void TZipFile::Open(const QString &ZipFileName, TZipMode OpenMode)
{
    if (OpenMode != zmRead)
        throw Failure("ENotSupportedException", "Only reading is supported");
    Close();
    const QFileInfo Info(ZipFileName);
    const auto OpenError = [&](const QString &Reason) {
        return Failure("EFOpenError", QString("Cannot open file \"%1\". %2")
                                          .arg(QDir::cleanPath(Info.absoluteFilePath()), Reason));
    };
    // Opening a FIFO waits for a writer that may never come, and a device has no end to search
    // from: only a regular file (or a link to one) is an archive.
    if (Info.exists() && !Info.isFile())
        throw OpenError("Not a regular file");
    FStream.setFileName(ZipFileName);
    if (!FStream.open(QIODevice::ReadOnly))
        throw OpenError(FStream.errorString());
    try {
        LoadCentralDirectory();
    } catch (...) {
        Close();
        throw;
    }
    FMode = zmRead;
}

void TZipFile::Close()
{
    FFiles.clear();
    FNameOffsets.clear();
    FLocalSlots = {};
    FStream.close();
    FMode = zmClosed;
}

void TZipFile::ReadExactly(char *Data, qint64 Count)
{
    if (Count > 0 && FStream.read(Data, Count) != Count)
        throw ZipReadError();
}

QByteArray TZipFile::ReadBytes(qint64 Count)
{
    QByteArray Bytes(Count, Qt::Uninitialized);
    ReadExactly(Bytes.data(), Count);
    return Bytes;
}

// Searches the archive's tail backwards in overlapping windows so that a signature that
// straddles two windows is still found. A signature without room for the record's fields
// before the end of the archive is no record.
bool TZipFile::FindEndOfCentralDirectory(char (&Fields)[EndRecordFieldsSize])
{
    const qint64 Size = FStream.size();
    const qint64 Lowest = Size - qMin(Size, EndRecordSearchSpan);
    const char Signature[] = {'P', 'K', 5, 6};
    QByteArray Window;
    for (qint64 End = Size; End - Lowest >= 4; End -= SearchWindowSize - 4) {
        const qint64 Start = qMax(Lowest, End - SearchWindowSize);
        if (!FStream.seek(Start))
            throw ZipReadError();
        Window = ReadBytes(End - Start);
        for (qint64 At = Window.size() - 4; At >= 0; --At) {
            if (Start + At + 4 + EndRecordFieldsSize <= Size &&
                memcmp(Window.constData() + At, Signature, 4) == 0) {
                if (!FStream.seek(Start + At + 4))
                    throw ZipReadError();
                ReadExactly(Fields, EndRecordFieldsSize);
                return true;
            }
        }
        if (Start == Lowest)
            break;
    }
    return false;
}

void TZipFile::LoadCentralDirectory()
{
    if (FStream.size() == 0)
        throw Failure("EZipException", "Stream read error");
    char EndFields[EndRecordFieldsSize];
    if (!FindEndOfCentralDirectory(EndFields))
        throw ZipReadError();
    const quint16 Count = Get16(EndFields + 6);
    const qint64 CentralStart = Get32(EndFields + 12);
    if (!FStream.seek(CentralStart))
        throw ZipReadError();
    FFiles.reserve(Count);
    FNameOffsets.reserve(Count);
    for (int Index = 0; Index < Count; ++Index) {
        CheckStop(Index);
        char Fixed[46];
        ReadExactly(Fixed, 4);
        if (Get32(Fixed) != ZipSignature::CentralHeader)
            throw Failure("EZipException", "Invalid Zip Central Header signature");
        ReadExactly(Fixed + 4, 42);
        TZipHeader Item;
        Item.MadeByVersion = Get16(Fixed + 4);
        Item.RequiredVersion = Get16(Fixed + 6);
        Item.Flag = Get16(Fixed + 8);
        Item.CompressionMethod = Get16(Fixed + 10);
        Item.ModifiedDateTime = Get32(Fixed + 12);
        Item.CRC32 = Get32(Fixed + 16);
        Item.CompressedSize = Get32(Fixed + 20);
        Item.UncompressedSize = Get32(Fixed + 24);
        Item.FileNameLength = Get16(Fixed + 28);
        Item.ExtraFieldLength = Get16(Fixed + 30);
        Item.FileCommentLength = Get16(Fixed + 32);
        Item.DiskNumberStart = Get16(Fixed + 34);
        Item.InternalAttributes = Get16(Fixed + 36);
        Item.ExternalAttributes = Get32(Fixed + 38);
        Item.LocalHeaderOffset = Get32(Fixed + 42);
        FNameOffsets.push_back(FStream.pos());
        // A record running past the end fails as the next read, or the check below, finds it.
        if (!FStream.seek(FStream.pos() + Item.FileNameLength + Item.ExtraFieldLength + Item.FileCommentLength))
            throw ZipReadError();
        FFiles.push_back(Item);
    }
    if (FStream.pos() > FStream.size())
        throw ZipReadError();
    CheckDataRanges(CentralStart, FStream.pos());
}

// Entries that share data with each other or with the central directory are how a small
// archive claims far more than it holds, so such an archive is refused before anything is
// written. An entry of size 0 reads nothing; any other reads at least its first byte, whatever
// its compressed size says. An entry whose local header cannot be read fails in its turn.
void TZipFile::CheckDataRanges(qint64 CentralStart, qint64 CentralEnd)
{
    struct TRange {
        qint64 Start;
        qint64 End;
        int Index; // -1: the central directory
    };
    std::vector<TRange> Ranges;
    if (CentralEnd > CentralStart)
        Ranges.push_back({CentralStart, CentralEnd, -1});
    for (size_t Index = 0; Index < FFiles.size(); ++Index) {
        CheckStop(int(Index));
        const TZipHeader &Item = FFiles[Index];
        char Fixed[30];
        if (Item.UncompressedSize == 0 ||
            ReadAt(FStream.handle(), Fixed, sizeof Fixed, Item.LocalHeaderOffset) != qint64(sizeof Fixed) ||
            Get32(Fixed) != ZipSignature::LocalHeader)
            continue;
        const qint64 Start =
            qint64(Item.LocalHeaderOffset) + sizeof Fixed + Get16(Fixed + 26) + Get16(Fixed + 28);
        Ranges.push_back({Start, Start + qMax<qint64>(Item.CompressedSize, 1), int(Index)});
    }
    std::sort(Ranges.begin(), Ranges.end(),
              [](const TRange &A, const TRange &B) { return A.Start < B.Start; });
    const TRange *Reach = nullptr; // the range reaching furthest so far
    for (const TRange &Range : Ranges) {
        if (Reach && Range.Start < Reach->End) {
            const TRange &Entry = Range.Index < 0 ? *Reach : Range;
            const TRange &Other = Range.Index < 0 ? Range : *Reach;
            throw Failure("EZipException",
                          Other.Index < 0
                              ? QString("Zip entry %1 overlaps the central directory").arg(Entry.Index + 1)
                              : QString("Zip entry %1 overlaps entry %2")
                                    .arg(qMax(Entry.Index, Other.Index) + 1)
                                    .arg(qMin(Entry.Index, Other.Index) + 1));
        }
        if (!Reach || Range.End > Reach->End)
            Reach = &Range;
    }
}

QByteArray TZipFile::CentralName(int Index) const
{
    QByteArray Name(FFiles[Index].FileNameLength, Qt::Uninitialized);
    if (ReadAt(FStream.handle(), Name.data(), Name.size(), FNameOffsets[Index]) != Name.size())
        throw ZipReadError();
    return Name;
}

void TZipFile::RequireReadable() const
{
    if (FMode != zmRead && FMode != zmReadWrite)
        throw Failure("EZipException", "File must be open for reading");
}

void TZipFile::Read(int Index, std::unique_ptr<TZipStream> &Stream, TZipHeader &LocalHeader)
{
    TStreamConstructor Decompress;
    const TLocalSlot &Local = ReadLocal(Index, Decompress);
    LocalHeader = Local.Header;
    if (!FStream.seek(Local.DataStart()))
        throw ZipReadError();
    Stream = Decompress(FStream, *this, LocalHeader);
}

TZipFile::TLocalSlot &TZipFile::ReadLocal(int Index, TStreamConstructor &Decompress)
{
    RequireReadable();
    if (Index < 0 || size_t(Index) >= FFiles.size())
        throw Failure("EListError", QString("List index out of bounds (%1)").arg(Index));
    const TZipHeader &Item = FFiles[Index];
    const auto Found = std::find_if(FLocalSlots.begin(), FLocalSlots.end(), [&Item](const TLocalSlot &Slot) {
        return Slot.Offset == qint64(Item.LocalHeaderOffset);
    });
    TLocalSlot *Slot = Found == FLocalSlots.end() ? nullptr : &*Found;
    if (!Slot) {
        Slot = &FLocalSlots[FNextSlot];
        FNextSlot = (FNextSlot + 1) % FLocalSlots.size();
        *Slot = TLocalSlot();
        // Positional reads of just the header: the buffered stream would fetch a block of the
        // data behind it for every entry.
        char Fixed[30];
        const qint64 Got = ReadAt(FStream.handle(), Fixed, sizeof Fixed, Item.LocalHeaderOffset);
        if (Got < 4)
            throw ZipReadError();
        if (Get32(Fixed) != ZipSignature::LocalHeader)
            throw Failure("EZipException", "Invalid Zip Local Header signature");
        if (Got < qint64(sizeof Fixed))
            throw ZipReadError();
        TZipHeader &LocalHeader = Slot->Header;
        LocalHeader.RequiredVersion = Get16(Fixed + 4);
        LocalHeader.Flag = Get16(Fixed + 6);
        LocalHeader.CompressionMethod = Get16(Fixed + 8);
        LocalHeader.ModifiedDateTime = Get32(Fixed + 10);
        LocalHeader.CRC32 = Get32(Fixed + 14);
        LocalHeader.CompressedSize = Get32(Fixed + 18);
        LocalHeader.UncompressedSize = Get32(Fixed + 22);
        LocalHeader.FileNameLength = Get16(Fixed + 26);
        LocalHeader.ExtraFieldLength = Get16(Fixed + 28);
        const qint64 NameAt = qint64(Item.LocalHeaderOffset) + sizeof Fixed;
        QByteArray Variable(LocalHeader.FileNameLength + LocalHeader.ExtraFieldLength, Qt::Uninitialized);
        if (ReadAt(FStream.handle(), Variable.data(), Variable.size(), NameAt) != Variable.size())
            throw ZipReadError();
        LocalHeader.FileName = Variable.first(LocalHeader.FileNameLength);
        LocalHeader.ExtraField = Variable.sliced(LocalHeader.FileNameLength);
        Slot->Offset = Item.LocalHeaderOffset;
    }

    Decompress = FindDecompressionHandler(TZipCompression(Item.CompressionMethod & 0xFF));
    if (!Decompress)
        throw Failure("EListError", "Item not found");
    return *Slot;
}

bool TZipFile::GetUTF8PathFromExtraField(const TZipHeader &AHeader, QString &AFileName)
{
    const QByteArray &Extra = AHeader.ExtraField;
    const char *Data = Extra.constData();
    for (qsizetype At = 0; At + 2 <= Extra.size(); ++At) {
        if (Get16(Data + At) != UnicodePathId)
            continue;
        // The first pair decides; one without room for its size, version and CRC is no name.
        if (At + 9 > Extra.size())
            return false;
        if (Get32(Data + At + 5) != Crc32Of(AHeader.FileName.constData(), AHeader.FileName.size()))
            return false;
        const int Count = int(Get16(Data + At + 2)) - 5;
        if (Count < 0 || At + 9 + Count > Extra.size())
            throw Failure("EEncodingError", QString("Invalid count (%1)").arg(Count));
        AFileName = DecodeUtf8Name(QByteArrayView(Data + At + 9, Count));
        return true;
    }
    return false;
}

void TZipFile::CheckStop(int Index) const
{
    if (Index % 4096 == 0 && FControl && FControl->Stop.load())
        ThrowExtractionStopped();
}

void TZipFile::ExtractAll(const QString &Path, const TExtractOptions &Options)
{
    RequireReadable();
    TOutputFolder Folder(QDir::cleanPath(QDir(Path).absolutePath()));
    TEntryPool Pool(*this, ReopenPath(FStream), TEntryPool::WorkersFor(Options.Threads), Options.Control);
    TExtractControl *Control = Options.Control;
    const int Count = int(FFiles.size());
    // Looked at only where entries can start early at all.
    const bool StartsEmpty = Pool.EarlySlots() > 0 &&
                             QDir(Path).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    int Settled = 0;
    for (int Index = 0; Index < Count && Pool.WaitToGo(Index, Settled); ++Index) {
        Folder.ForgetBefore(Settled);
        // With nothing before it unwritten, no failure can undo what this entry makes.
        Folder.BeginEntry(Settled < Index ? Index : -1);
        try {
            if (Control && Control->Stop.load())
                ThrowExtractionStopped();
            Extract(Index, Folder, Path, true, Pool);
        } catch (...) {
            Pool.Fail(Index, std::current_exception());
        }
        // Once the first entry has made the destination, as a run in directory order does.
        if (Index == 0 && StartsEmpty)
            StartLargestEarly(Folder, Path, Pool);
    }
    Pool.Join();
    // What entries after the failure made is gone again, as if they had not been reached.
    if (Pool.FailedIndex() >= 0)
        Folder.Undo(Pool.FailedIndex());
    Pool.Rethrow();
}

void TZipFile::Extract(int Index, const QString &Path, bool CreateSubdirs)
{
    RequireReadable();
    TOutputFolder Folder(QDir::cleanPath(QDir(Path).absolutePath()));
    TEntryPool Pool(*this, ReopenPath(FStream), 0, nullptr);
    try {
        Extract(Index, Folder, Path, CreateSubdirs, Pool);
    } catch (...) {
        Pool.Fail(Index, std::current_exception());
    }
    Pool.Rethrow();
}

bool TZipFile::PrepareJob(int Index, const QString &Path, bool CreateSubdirs, TEntryJob &Job,
                          TEntryTarget &Target)
{
    TLocalSlot &Local = ReadLocal(Index, Job.Decompress);
    const TZipHeader &Item = FFiles[Index];
    if (!Local.NameKnown) {
        Local.HasUnicodeName = GetUTF8PathFromExtraField(Local.Header, Local.UnicodeName);
        Local.NameKnown = true;
    }
    if (Local.HasUnicodeName) {
        Job.Name = Local.UnicodeName;
        if (!Local.Target || Local.TargetPath != Path || Local.TargetSubdirs != CreateSubdirs) {
            Local.Target = ResolveEntryTarget(Path, Job.Name, CreateSubdirs);
            Local.TargetPath = Path;
            Local.TargetSubdirs = CreateSubdirs;
        }
        Target = *Local.Target;
    } else {
        Job.Name = DecodeEntryName(CentralName(Index), Item.UTF8Support(), FEncoding);
        Target = ResolveEntryTarget(Path, Job.Name, CreateSubdirs);
    }
    if (Target.IsFolder)
        return false;
    Job.Index = Index;
    Job.Item = &Item;
    Job.LocalHeader = Local.Header;
    Job.DataStart = Local.DataStart();
    Job.Deflated = (Item.CompressionMethod & 0xFF) == 8 && HasBuiltInHandler(8);
    return true;
}

// The largest entries after the first start on idle workers at once: an archive whose largest
// entry comes last would otherwise end with one worker decoding it alone. Only into a folder
// that held nothing, where their names are free, so that no work is done twice.
void TZipFile::StartLargestEarly(TOutputFolder &Folder, const QString &Path, TEntryPool &Pool)
{
    const int Slots = Pool.EarlySlots();
    if (Slots <= 0)
        return;
    std::vector<int> Large;
    for (int Index = 1; Index < int(FFiles.size()); ++Index)
        if (FFiles[Index].UncompressedSize >= TEntryPool::EarlyStartSize)
            Large.push_back(Index);
    // Of equal sizes the later first: the reader reaches it last.
    std::sort(Large.begin(), Large.end(), [this](int A, int B) {
        return FFiles[A].UncompressedSize != FFiles[B].UncompressedSize
                   ? FFiles[A].UncompressedSize > FFiles[B].UncompressedSize
                   : A > B;
    });
    int Started = 0;
    for (auto Index = Large.begin(); Index != Large.end() && Started < Slots; ++Index) {
        TEntryJob Job;
        Job.Output = Folder.CreateUnnamedFile();
        if (!Job.Output)
            return;
        TEntryTarget Target;
        try {
            if (!PrepareJob(*Index, Path, true, Job, Target))
                continue;
        } catch (const Failure &) {
            continue; // it fails again in its turn
        }
        Job.FullPath = Folder.FullPath(Target);
        Pool.StartEarly(std::move(Job));
        ++Started;
    }
}

void TZipFile::Extract(int Index, TOutputFolder &Folder, const QString &Path, bool CreateSubdirs,
                       TEntryPool &Pool)
{
    TEntryJob Job;
    TEntryTarget Target;
    if (!PrepareJob(Index, Path, CreateSubdirs, Job, Target)) {
        Folder.MakeFolders(Target);
        return;
    }
    Job.FullPath = Folder.FullPath(Target);
    if (!Pool.WaitForRoom(Job.FullPath))
        return;
    if (const TOutputFile *Early = Pool.EarlyFile(Index)) {
        if (Folder.NameFile(Target, *Early)) {
            Pool.AdoptEarly(Index);
            return;
        }
        Pool.DropEarly(Index);
    }
    Job.Output = Folder.CreateFile(Target);
    Pool.Submit(std::move(Job));
}
