#include "zip_streams.h"

#include "failure.h"

qint64 TStoredStream::Read(char *Buffer, qint64 Count)
{
    return qMax<qint64>(FSource.read(Buffer, Count), 0);
}

TZDecompressionStream::TZDecompressionStream(QIODevice &Source)
    : FSource(Source), FSourcePosition(Source.pos()), FInput(new char[InputBufferSize])
{
    const int Result = inflateInit2(&FZStream, -MAX_WBITS);
    if (Result != Z_OK)
        throw Failure("EZDecompressionError", QString::fromLatin1(zError(Result)));
}

TZDecompressionStream::~TZDecompressionStream()
{
    inflateEnd(&FZStream);
}

qint64 TZDecompressionStream::Read(char *Buffer, qint64 Count)
{
    FZStream.next_out = reinterpret_cast<Bytef *>(Buffer);
    FZStream.avail_out = static_cast<uInt>(qMin<qint64>(Count, 1 << 30));
    const uInt Wanted = FZStream.avail_out;
    while (FZStream.avail_out > 0 && !FEnded) {
        if (FZStream.avail_in == 0) {
            if (FSource.pos() != FSourcePosition && !FSource.seek(FSourcePosition))
                break;
            const qint64 Got = FSource.read(FInput.get(), InputBufferSize);
            if (Got <= 0)
                break;
            FSourcePosition += Got;
            FZStream.next_in = reinterpret_cast<Bytef *>(FInput.get());
            FZStream.avail_in = static_cast<uInt>(Got);
        }
        const int Result = inflate(&FZStream, Z_NO_FLUSH);
        if (Result == Z_STREAM_END) {
            FEnded = true;
            FSourcePosition -= FZStream.avail_in;
            FSource.seek(FSourcePosition);
            FZStream.avail_in = 0;
        } else if (Result != Z_OK && Result != Z_BUF_ERROR) {
            throw Failure("EZDecompressionError", QString::fromLatin1(zError(Result)));
        }
    }
    return Wanted - FZStream.avail_out;
}

bool TZDecompressionStream::GoesOn()
{
    char Probe;
    return !FEnded && Read(&Probe, 1) > 0;
}
