#pragma once

#include <QIODevice>
#include <zlib.h>

#include <memory>

// A reader for one entry's data. Read returns the bytes it could deliver, 0 once the data
// has ended (or the archive has nothing more to give).
class TZipStream {
public:
    virtual ~TZipStream() = default;
    virtual qint64 Read(char *Buffer, qint64 Count) = 0;
    // Asked once the entry's size has been read: true when the data would go on past it.
    // Stored data has no end of its own, so only a reader that knows one can say yes.
    virtual bool GoesOn() { return false; }
};

// Passes the archive's bytes through from its current position on; the caller bounds it.
class TStoredStream : public TZipStream {
public:
    explicit TStoredStream(QIODevice &Source) : FSource(Source) {}
    qint64 Read(char *Buffer, qint64 Count) override;

private:
    QIODevice &FSource;
};

// Raw deflate over the archive stream. Input is taken in large blocks; when the deflate
// stream ends, the input it did not use is handed back by moving the archive stream back.
class TZDecompressionStream : public TZipStream {
public:
    explicit TZDecompressionStream(QIODevice &Source);
    ~TZDecompressionStream() override;
    TZDecompressionStream(const TZDecompressionStream &) = delete;
    TZDecompressionStream &operator=(const TZDecompressionStream &) = delete;

    qint64 Read(char *Buffer, qint64 Count) override;
    bool GoesOn() override;

    static constexpr qint64 InputBufferSize = 65536;

private:
    QIODevice &FSource;
    qint64 FSourcePosition;
    std::unique_ptr<char[]> FInput;
    z_stream FZStream{};
    bool FEnded = false;
};
