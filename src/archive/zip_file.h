#pragma once

#include "compression_handlers.h"
#include "entry_names.h"
#include "extract_control.h"
#include "zip_header.h"
#include "zip_streams.h"

#include <QFile>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class TEntryPool;
class TOutputFolder;
struct TEntryJob;

// A ZIP archive opened for reading. Open reads the central directory and keeps each record's
// fixed fields until Close; names are read again in their entry's turn, and extra fields and
// comments are not kept, so the directory costs 128 bytes an entry whatever those hold (at
// most 65,535 entries: 8 MiB). Entries are taken in directory order; their data may
// be written by worker threads, and the failure reported is the first in directory order.
class TZipFile {
public:
    TZipFile() = default;
    ~TZipFile();
    TZipFile(const TZipFile &) = delete;
    TZipFile &operator=(const TZipFile &) = delete;

    // The code page of names without the UTF-8 flag (936 = GBK, 65001 = UTF-8).
    int Encoding() const { return FEncoding; }
    void SetEncoding(int Encoding) { FEncoding = Encoding; }
    // A stop asked for here ends Open while it reads a large directory ("Operation aborted").
    void SetControl(const TExtractControl *Control) { FControl = Control; }
    TZipMode Mode() const { return FMode; }
    // The central records, without their names, extra fields and comments.
    const std::vector<TZipHeader> &Files() const { return FFiles; }

    // Only zmRead is supported.
    void Open(const QString &ZipFileName, TZipMode OpenMode);
    void Close();
    void ExtractAll(const QString &Path, const TExtractOptions &Options = {});
    void Extract(int Index, const QString &Path, bool CreateSubdirs = true);
    // Reads entry Index's local header and makes the reader of its data.
    void Read(int Index, std::unique_ptr<TZipStream> &Stream, TZipHeader &LocalHeader);
    // The name from a Unicode Path extra field whose CRC matches the header's name bytes.
    static bool GetUTF8PathFromExtraField(const TZipHeader &AHeader, QString &AFileName);

private:
    // A local header as last read, with the name its Unicode Path field gave and where that
    // name lands. Many directory entries may point at one local header; each of them then
    // costs no more than its own directory record.
    struct TLocalSlot {
        qint64 Offset = -1;
        TZipHeader Header;
        bool NameKnown = false;
        bool HasUnicodeName = false;
        QString UnicodeName;
        std::optional<TEntryTarget> Target;
        QString TargetPath;
        bool TargetSubdirs = false;

        qint64 DataStart() const { return Offset + 30 + Header.FileNameLength + Header.ExtraFieldLength; }
    };

    void LoadCentralDirectory();
    // Entry Index's name as its central record gives it.
    QByteArray CentralName(int Index) const;
    void CheckDataRanges(qint64 CentralStart, qint64 CentralEnd);
    TLocalSlot &ReadLocal(int Index, TStreamConstructor &Decompress);
    // The 18 bytes that follow the end record's signature.
    static constexpr int EndRecordFieldsSize = 18;
    bool FindEndOfCentralDirectory(char (&Fields)[EndRecordFieldsSize]);
    void ReadExactly(char *Data, qint64 Count);
    QByteArray ReadBytes(qint64 Count);
    void RequireReadable() const;
    // Every few thousand directory records: reading 65,535 of them takes a while.
    void CheckStop(int Index) const;
    void Extract(int Index, TOutputFolder &Folder, const QString &Path, bool CreateSubdirs, TEntryPool &Pool);
    // Reads entry Index's local header and name into Job and where it lands into Target; false
    // for a folder entry.
    bool PrepareJob(int Index, const QString &Path, bool CreateSubdirs, TEntryJob &Job, TEntryTarget &Target);
    void StartLargestEarly(TOutputFolder &Folder, const QString &Path, TEntryPool &Pool);

    TZipMode FMode = zmClosed;
    QFile FStream;
    std::vector<TZipHeader> FFiles;
    std::vector<qint64> FNameOffsets; // where each central record's name starts
    int FEncoding = 936;
    const TExtractControl *FControl = nullptr;
    std::array<TLocalSlot, 4> FLocalSlots;
    size_t FNextSlot = 0;
};
