#pragma once

#include "compression_handlers.h"
#include "extract_control.h"
#include "output_folder.h"
#include "zip_header.h"

#include <QFile>
#include <QString>

#include <memory>
#include <vector>

struct libdeflate_decompressor;
class TZipFile;

// One file entry whose file is created and whose data is still to be written. Everything the
// writing needs is copied in, so the reader may go on to later entries meanwhile.
struct TEntryJob {
    int Index = 0;
    const TZipHeader *Item = nullptr; // the central record, unchanged until the archive closes
    TZipHeader LocalHeader;
    qint64 DataStart = 0;
    QString Name;
    QString FullPath;
    TStreamConstructor Decompress;
    bool Deflated = false; // the built-in deflate handler: whole-buffer decoding may stand in
    std::unique_ptr<TOutputFile> Output;
};

// Writes entries' data on one thread, reading the archive through a handle of its own.
// Small deflated entries are decoded whole by libdeflate; an entry that does not decode
// cleanly that way, and every larger one, goes through its stream handler, so results and
// failures are those of the streaming reader.
class TEntryWriter {
public:
    TEntryWriter(const TZipFile &Zip, const QString &ArchiveHandlePath, TExtractControl *Control);
    ~TEntryWriter();
    TEntryWriter(const TEntryWriter &) = delete;
    TEntryWriter &operator=(const TEntryWriter &) = delete;

    // Copies the data, checks its size and CRC-32, then sets the time and permissions.
    void Write(TEntryJob &Job);

    // An entry is decoded whole when its compressed and unpacked sizes together fit here.
    static constexpr qint64 WholeEntryLimit = 2 << 20;
    static constexpr qint64 CopyBufferSize = 1 << 20;

private:
    bool WriteWhole(const TEntryJob &Job, quint32 &Crc);
    quint32 WriteStreamed(const TEntryJob &Job);
    void Written(qint64 Count);
    void CheckStop() const;
    QFile &Archive();

    const TZipFile &FZip;
    QString FArchiveHandlePath;
    TExtractControl *FControl;
    QFile FArchive;
    libdeflate_decompressor *FDecompressor = nullptr;
    std::vector<char> FInput;
    std::vector<char> FOutput;
};
