#include "zip_file.h"

#include "compression_handlers.h"
#include "dos_time.h"
#include "entry_names.h"
#include "failure.h"
#include "output_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <zlib.h>

namespace {

constexpr qint64 EndRecordSearchSpan = 65535;
constexpr qint64 SearchWindowSize = 1027;
constexpr int UnicodePathId = 0x7075;
constexpr quint8 HostMsDos = 0;
constexpr quint8 HostUnix = 3;
constexpr uint UnixFileTypeMask = 0170000;
constexpr uint UnixSymbolicLink = 0120000;
// The low byte of the external attributes without the volume-label bit.
constexpr quint32 DosAttributeBits = 0xF7;

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

// Copies exactly Size bytes in blocks of up to 1 MiB and returns their CRC-32.
quint32 CopyData(TZipStream &Reader, quint32 Size, TOutputFile &Output)
{
    quint32 Crc = 0;
    if (Size == 0)
        return Crc;
    const qint64 BufferSize = qMin<qint64>(TZipFile::CopyBufferSize, Size);
    std::unique_ptr<char[]> Buffer(new char[BufferSize]);
    for (quint32 Remaining = Size; Remaining > 0;) {
        const qint64 Block = qMin<qint64>(BufferSize, Remaining);
        for (qint64 Got = 0; Got < Block;) {
            const qint64 Count = Reader.Read(Buffer.get() + Got, Block - Got);
            if (Count <= 0)
                throw Failure("EReadError", "Stream read error");
            Got += Count;
        }
        if (!Output.Write(Buffer.get(), Block))
            throw Failure("EWriteError", "Stream write error");
        Crc = Crc32Of(Buffer.get(), Block, Crc);
        Remaining -= quint32(Block);
    }
    return Crc;
}

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

TZipFile::~TZipFile()
{
    Close();
}

void TZipFile::Open(const QString &ZipFileName, TZipMode OpenMode)
{
    if (OpenMode != zmRead)
        throw Failure("ENotSupportedException", "Only reading is supported");
    Close();
    FStream.setFileName(ZipFileName);
    if (!FStream.open(QIODevice::ReadOnly))
        throw Failure("EFOpenError", QString("Cannot open file \"%1\". %2")
                                         .arg(QDir::cleanPath(QFileInfo(ZipFileName).absoluteFilePath()),
                                              FStream.errorString()));
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
    if (!FStream.seek(Get32(EndFields + 12)))
        throw ZipReadError();
    FFiles.reserve(Count);
    for (int Index = 0; Index < Count; ++Index) {
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
        Item.FileName = ReadBytes(Item.FileNameLength);
        Item.ExtraField = ReadBytes(Item.ExtraFieldLength);
        Item.FileComment = ReadBytes(Item.FileCommentLength);
        FFiles.push_back(std::move(Item));
    }
}

void TZipFile::RequireReadable() const
{
    if (FMode != zmRead && FMode != zmReadWrite)
        throw Failure("EZipException", "File must be open for reading");
}

void TZipFile::Read(int Index, std::unique_ptr<TZipStream> &Stream, TZipHeader &LocalHeader)
{
    RequireReadable();
    if (Index < 0 || size_t(Index) >= FFiles.size())
        throw Failure("EListError", QString("List index out of bounds (%1)").arg(Index));
    const TZipHeader &Item = FFiles[Index];
    if (!FStream.seek(Item.LocalHeaderOffset))
        throw ZipReadError();
    char Fixed[30];
    ReadExactly(Fixed, 4);
    if (Get32(Fixed) != ZipSignature::LocalHeader)
        throw Failure("EZipException", "Invalid Zip Local Header signature");
    ReadExactly(Fixed + 4, 26);
    LocalHeader = TZipHeader();
    LocalHeader.RequiredVersion = Get16(Fixed + 4);
    LocalHeader.Flag = Get16(Fixed + 6);
    LocalHeader.CompressionMethod = Get16(Fixed + 8);
    LocalHeader.ModifiedDateTime = Get32(Fixed + 10);
    LocalHeader.CRC32 = Get32(Fixed + 14);
    LocalHeader.CompressedSize = Get32(Fixed + 18);
    LocalHeader.UncompressedSize = Get32(Fixed + 22);
    LocalHeader.FileNameLength = Get16(Fixed + 26);
    LocalHeader.ExtraFieldLength = Get16(Fixed + 28);
    LocalHeader.FileName = ReadBytes(LocalHeader.FileNameLength);
    LocalHeader.ExtraField = ReadBytes(LocalHeader.ExtraFieldLength);

    const TStreamConstructor Decompress =
        FindDecompressionHandler(TZipCompression(Item.CompressionMethod & 0xFF));
    if (!Decompress)
        throw Failure("EListError", "Item not found");
    Stream = Decompress(FStream, *this, LocalHeader);
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

void TZipFile::ExtractAll(const QString &Path)
{
    RequireReadable();
    TOutputFolder Folder(QDir::cleanPath(QDir(Path).absolutePath()));
    const int Count = int(FFiles.size());
    for (int Index = 0; Index < Count; ++Index)
        Extract(Index, Folder, Path, true);
}

void TZipFile::Extract(int Index, const QString &Path, bool CreateSubdirs)
{
    TOutputFolder Folder(QDir::cleanPath(QDir(Path).absolutePath()));
    Extract(Index, Folder, Path, CreateSubdirs);
}

void TZipFile::Extract(int Index, TOutputFolder &Folder, const QString &Path, bool CreateSubdirs)
{
    std::unique_ptr<TZipStream> Reader;
    TZipHeader LocalHeader;
    Read(Index, Reader, LocalHeader);
    const TZipHeader &Item = FFiles[Index];
    QString Name;
    if (!GetUTF8PathFromExtraField(LocalHeader, Name))
        Name = DecodeEntryName(Item.FileName, Item.UTF8Support(), FEncoding);
    const TEntryTarget Target = ResolveEntryTarget(Path, Name, CreateSubdirs);
    if (Target.IsFolder) {
        Folder.MakeFolders(Target.Levels);
        return;
    }
    std::unique_ptr<TOutputFile> Output = Folder.CreateFile(Target);
    if (CopyData(*Reader, Item.UncompressedSize, *Output) != Item.CRC32)
        throw Failure("EZipException", QString("CRC-32 mismatch in \"%1\"").arg(Name));
    ApplyTimeAndAttributes(Item, LocalHeader, *Output);
}
