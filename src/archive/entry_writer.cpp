#include "entry_writer.h"

#include "archive_reads.h"
#include "dos_time.h"
#include "failure.h"

#include <libdeflate.h>

namespace {

constexpr quint8 HostMsDos = 0;
constexpr quint8 HostUnix = 3;
constexpr uint UnixFileTypeMask = 0170000;
constexpr uint UnixSymbolicLink = 0120000;
// The low byte of the external attributes without the volume-label bit.
constexpr quint32 DosAttributeBits = 0xF7;

// Host 0 archives carry DOS attributes, which the system maps as it can; host 3
// archives carry Unix permissions, kept as Unix tools keep them (when there are any). Link
// entries become plain files, so their link permissions are not given to them.
void ApplyTimeAndAttributes(const TZipHeader &Item, const TZipHeader &LocalHeader, TOutputFile &Output)
{
    const QDateTime Modified = DosDateTimeToLocal(LocalHeader.ModifiedDateTime);
    if (Modified.isValid())
        Output.SetModifiedTime(Modified);
    const uint UnixMode = Item.ExternalAttributes >> 16;
    if (Item.HostSystem() == HostMsDos)
        Output.SetDosAttributes(Item.ExternalAttributes & DosAttributeBits);
    else if (Item.HostSystem() == HostUnix && UnixMode != 0 &&
             (UnixMode & UnixFileTypeMask) != UnixSymbolicLink)
        Output.SetUnixMode(UnixMode);
}

} // namespace

void ThrowExtractionStopped()
{
    throw Failure("EAbort", QStringLiteral("Operation aborted"));
}

TEntryWriter::TEntryWriter(const TZipFile &Zip, const QString &ArchiveHandlePath, TExtractControl *Control,
                           qint64 BufferSize)
    : FZip(Zip), FArchiveHandlePath(ArchiveHandlePath), FControl(Control), FBufferSize(BufferSize)
{
}

TEntryWriter::~TEntryWriter()
{
    if (FDecompressor)
        libdeflate_free_decompressor(FDecompressor);
}

QFile &TEntryWriter::Archive()
{
    if (!FArchive.isOpen()) {
        FArchive.setFileName(FArchiveHandlePath);
        if (!FArchive.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            throw Failure(
                "EFOpenError",
                QString("Cannot open file \"%1\". %2").arg(FArchiveHandlePath, FArchive.errorString()));
    }
    return FArchive;
}

char *TEntryWriter::Buffer()
{
    if (!FBuffer)
        FBuffer = std::make_unique_for_overwrite<char[]>(size_t(FBufferSize));
    return FBuffer.get();
}

void TEntryWriter::CheckStop(const TEntryJob &Job) const
{
    if ((FControl && FControl->Stop.load(std::memory_order_relaxed)) ||
        (Job.Unwanted && Job.Unwanted->load(std::memory_order_relaxed)))
        ThrowExtractionStopped();
}

void TEntryWriter::Written(qint64 Count)
{
    if (FControl)
        FControl->Written.fetch_add(quint64(Count), std::memory_order_relaxed);
}

bool TEntryWriter::Write(const TEntryJob &Job)
{
    CheckStop(Job);
    const TZipHeader &Item = *Job.Item;
    quint32 Crc = 0;
    if (Item.UncompressedSize > 0 && !WriteWhole(Job, Crc)) {
        if (!CanStream(Job))
            return false;
        Crc = Job.Deflated ? WriteInflated(Job) : WriteStreamed(Job);
    }
    if (Crc != Item.CRC32)
        throw Failure("EZipException", QString("CRC-32 mismatch in \"%1\"").arg(Job.Name));
    ApplyTimeAndAttributes(Item, Job.LocalHeader, *Job.Output);
    return true;
}

// A full buffer streams anything; a smaller one only an entry whose blocks it holds, and no
// deflated one, since the Inflater's output would not fit.
bool TEntryWriter::CanStream(const TEntryJob &Job) const
{
    return FBufferSize >= FullBufferSize || (!Job.Deflated && Job.Item->UncompressedSize <= FBufferSize);
}

// False, with nothing written, unless the entry's compressed bytes hold one complete deflate
// stream of exactly its size: the streaming reader then writes or refuses it as it would.
bool TEntryWriter::WriteWhole(const TEntryJob &Job, quint32 &Crc)
{
    const TZipHeader &Item = *Job.Item;
    if (!Job.Deflated || qint64(Item.CompressedSize) + Item.UncompressedSize > FBufferSize)
        return false;
    if (!FDecompressor && !(FDecompressor = libdeflate_alloc_decompressor()))
        return false;
    char *const Input = Buffer();
    char *const Output = Input + Item.CompressedSize;
    if (ReadAt(Archive().handle(), Input, Item.CompressedSize, Job.DataStart) != Item.CompressedSize)
        return false;
    size_t Used = 0;
    size_t Made = 0;
    if (libdeflate_deflate_decompress_ex(FDecompressor, Input, Item.CompressedSize, Output, Item.UncompressedSize,
                                         &Used, &Made) != LIBDEFLATE_SUCCESS ||
        Made != Item.UncompressedSize)
        return false;
    CheckStop(Job);
    if (!Job.Output->Write(Output, qint64(Made)))
        throw Failure("EWriteError", "Stream write error");
    Written(qint64(Made));
    Crc = libdeflate_crc32(0, Output, Made);
    return true;
}

quint32 TEntryWriter::WriteInflated(const TEntryJob &Job)
{
    const qintptr Handle = Archive().handle();
    qint64 Position = Job.DataStart;
    // Like the stream handler, the decoder reads on to the archive's end if the stream does.
    FInflater.Reset(
        [Handle, &Position](char *Buffer, qint64 Count) {
            const qint64 Got = ReadAt(Handle, Buffer, Count, Position);
            Position += qMax<qint64>(Got, 0);
            return Got;
        },
        reinterpret_cast<unsigned char *>(Buffer()));
    return WriteBlocks(
        Job, [this](qint64 Count) { return FInflater.Next(Count); }, [this] { return FInflater.GoesOn(); });
}

quint32 TEntryWriter::WriteStreamed(const TEntryJob &Job)
{
    QFile &Source = Archive();
    if (!Source.seek(Job.DataStart))
        throw Failure("EReadError", "Stream read error");
    const std::unique_ptr<TZipStream> Reader = Job.Decompress(Source, FZip, Job.LocalHeader);
    char *const Block = Buffer();
    return WriteBlocks(
        Job,
        [&](qint64 Count) {
            qint64 Got = 0;
            for (qint64 Read = 0; Got < Count && (Read = Reader->Read(Block + Got, Count - Got)) > 0;)
                Got += Read;
            return std::span<const char>(Block, size_t(Got));
        },
        [&] { return Reader->GoesOn(); });
}

quint32 TEntryWriter::WriteBlocks(const TEntryJob &Job,
                                  const std::function<std::span<const char>(qint64)> &NextBlock,
                                  const std::function<bool()> &GoesOn)
{
    const TZipHeader &Item = *Job.Item;
    quint32 Crc = 0;
    for (quint32 Remaining = Item.UncompressedSize; Remaining > 0;) {
        CheckStop(Job);
        const qint64 Block = qMin<qint64>(CopyBufferSize, Remaining);
        const std::span<const char> Data = NextBlock(Block);
        if (qint64(Data.size()) < Block)
            throw Failure("EReadError", "Stream read error");
        if (!Job.Output->Write(Data.data(), Block))
            throw Failure("EWriteError", "Stream write error");
        Written(Block);
        Crc = libdeflate_crc32(Crc, Data.data(), size_t(Block));
        Remaining -= quint32(Block);
    }
    // Nothing past the size was written; an entry whose data goes on is refused all the same,
    // since its size, and so the space checked for it, was not its own.
    if (GoesOn())
        throw Failure("EZipException", QString("Entry \"%1\" holds more data than its size of %2 bytes")
                                           .arg(Job.Name)
                                           .arg(Item.UncompressedSize));
    return Crc;
}
