#pragma once

#include "compression_handlers.h"
#include "extract_control.h"
#include "inflater.h"
#include "output_folder.h"
#include "zip_header.h"

#include <QFile>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <span>

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
    // Set once the data is no longer wanted: the writing then stops as it does for a stop.
    const std::atomic<bool> *Unwanted = nullptr;
};

// Writes entries' data on one thread, reading the archive through a handle of its own.
// Deflated entries are decoded by libdeflate when small, whole; an entry that does not decode
// cleanly that way, and every larger one, is streamed through the Inflater, whose verdicts are
// those of the zlib stream handler. Entries of other methods go through their stream handler.
// A writer with a buffer smaller than FullBufferSize writes only the entries that fit it.
class TEntryWriter {
public:
    TEntryWriter(const TZipFile &Zip, const QString &ArchiveHandlePath, TExtractControl *Control,
                 qint64 BufferSize = FullBufferSize);
    ~TEntryWriter();
    TEntryWriter(const TEntryWriter &) = delete;
    TEntryWriter &operator=(const TEntryWriter &) = delete;

    // Copies the data, checks its size and CRC-32, then sets the time and permissions. False,
    // with nothing written, for an entry that needs a larger buffer than this writer's.
    bool Write(const TEntryJob &Job);

    // Entries are decoded whole when their compressed and unpacked sizes together fit the
    // buffer. A buffer of this size also holds the Inflater's output or a stored entry's block,
    // so its writer can write any entry.
    static constexpr qint64 FullBufferSize = 2 << 20;
    static constexpr qint64 CopyBufferSize = 1 << 20;
    static_assert(CopyBufferSize <= Inflater::MaxBlock);
    static_assert(Inflater::OutputSize <= FullBufferSize);

private:
    bool WriteWhole(const TEntryJob &Job, quint32 &Crc);
    bool CanStream(const TEntryJob &Job) const;
    quint32 WriteInflated(const TEntryJob &Job);
    quint32 WriteStreamed(const TEntryJob &Job);
    // Writes exactly the entry's size, block by block as NextBlock gives it, and returns its
    // CRC-32; then refuses the entry if GoesOn says its data holds more.
    quint32 WriteBlocks(const TEntryJob &Job, const std::function<std::span<const char>(qint64)> &NextBlock,
                        const std::function<bool()> &GoesOn);
    void Written(qint64 Count);
    void CheckStop(const TEntryJob &Job) const;
    QFile &Archive();
    char *Buffer();

    const TZipFile &FZip;
    QString FArchiveHandlePath;
    TExtractControl *FControl;
    QFile FArchive;
    libdeflate_decompressor *FDecompressor = nullptr;
    Inflater FInflater;
    // FBufferSize bytes, allocated on first use: an entry decoded whole keeps its compressed
    // bytes and then its output here, a streamed entry its blocks or the Inflater's output. One
    // buffer for all of them bounds the writer's memory by its size and the Inflater's input.
    const qint64 FBufferSize;
    std::unique_ptr<char[]> FBuffer;
};
