// The raw-deflate reader: output in any request sizes, input handed back at the stream's end,
// and reading on correctly when someone else moved the archive stream in between.
#include "zip_builder.h"
#include "zip_streams.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

QByteArray HalfCompressible(qsizetype Size)
{
    QByteArray Bytes(Size, Qt::Uninitialized);
    QRandomGenerator Random(11);
    for (qsizetype At = 0; At < Size; ++At)
        Bytes[At] = char(At % 3 == 0 ? Random.generate() & 0x0F : 'a' + At % 7);
    return Bytes;
}

QByteArray ReadAll(TZipStream &Stream, qint64 Chunk)
{
    QByteArray Out;
    QByteArray Buffer(Chunk, Qt::Uninitialized);
    while (const qint64 Count = Stream.Read(Buffer.data(), Chunk))
        Out.append(Buffer.constData(), Count);
    return Out;
}

TEST(ZDecompressionStream, InflatesAndHandsBackTheInputItDidNotUse)
{
    const QByteArray Plain = HalfCompressible(600000);
    const QByteArray Compressed = RawDeflate(Plain);
    ASSERT_GT(Compressed.size(), 2 * TZDecompressionStream::InputBufferSize);
    for (const qint64 Chunk : {qint64(1), qint64(4093), qint64(1 << 20)}) {
        QByteArray Archive = "head" + Compressed + "tail";
        QBuffer Source(&Archive);
        Source.open(QIODevice::ReadOnly);
        Source.seek(4);
        TZDecompressionStream Stream(Source);
        EXPECT_EQ(ReadAll(Stream, Chunk), Plain) << Chunk;
        EXPECT_EQ(Source.pos(), 4 + Compressed.size()) << Chunk;
        EXPECT_EQ(Source.read(4), "tail");
    }
}

TEST(ZDecompressionStream, ReadsOnWhereItStoppedAfterTheSourceMoved)
{
    const QByteArray Plain = HalfCompressible(300000);
    QByteArray Archive = RawDeflate(Plain);
    QBuffer Source(&Archive);
    Source.open(QIODevice::ReadOnly);
    TZDecompressionStream Stream(Source);
    QByteArray Out(1000, Qt::Uninitialized);
    ASSERT_EQ(Stream.Read(Out.data(), Out.size()), Out.size());
    Source.seek(0);
    EXPECT_EQ(Out + ReadAll(Stream, 65536), Plain);
}

TEST(ZDecompressionStream, StopsWithWhatItHasWhenTheSourceEnds)
{
    const QByteArray Plain = HalfCompressible(300000);
    QByteArray Archive = RawDeflate(Plain).left(5000);
    QBuffer Source(&Archive);
    Source.open(QIODevice::ReadOnly);
    TZDecompressionStream Stream(Source);
    const QByteArray Out = ReadAll(Stream, 1 << 20);
    EXPECT_GT(Out.size(), 0);
    EXPECT_LT(Out.size(), Plain.size());
    EXPECT_EQ(Out, Plain.left(Out.size()));
}

TEST(StoredStream, PassesTheSourceThroughFromItsPosition)
{
    QByteArray Archive = "0123456789";
    QBuffer Source(&Archive);
    Source.open(QIODevice::ReadOnly);
    Source.seek(3);
    TStoredStream Stream(Source);
    EXPECT_EQ(ReadAll(Stream, 4), "3456789");
}

} // namespace
