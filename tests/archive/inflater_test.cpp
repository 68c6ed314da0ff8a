// The streaming inflater against zlib: the same output for what zlib's deflate writes, and the
// same verdict for malformed and cut streams.
#include "failure.h"
#include "inflater.h"
#include "zip_builder.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>

namespace {

// Words from a small vocabulary with noise between them: matches at every distance and length.
QByteArray Text(qsizetype Size, unsigned Seed)
{
    static const char *const Words[] = {"install", "setup ", "版本", "archive\n", "a", "zzzzzzzz", "0123456789"};
    std::mt19937 Random(Seed);
    QByteArray Bytes;
    while (Bytes.size() < Size) {
        Bytes += Words[Random() % 7];
        if (Random() % 4 == 0)
            Bytes += char(Random());
    }
    return Bytes.left(Size);
}

// Short repeating patterns: matches that overlap what they write at distances 1 to 7.
QByteArray Pattern(qsizetype Size)
{
    QByteArray Bytes;
    for (int Period = 1; Bytes.size() < Size; Period = Period % 7 + 1)
        for (int Repeat = 0; Repeat < 300; ++Repeat)
            Bytes += QByteArray("abcdefg").left(Period);
    return Bytes.left(Size);
}

// Symbols of falling frequency, each half as common as the one before, with eight seen once each
// and together in the middle: their codes take 14 and 15 bits, the longest deflate has, and
// four of them in a row take more bits than one refill of the decoder gives.
QByteArray LongCodes()
{
    QByteArray Common;
    for (int Symbol = 0; Symbol < 12; ++Symbol)
        Common += QByteArray(1 << (15 - Symbol), char('A' + Symbol));
    std::shuffle(Common.begin(), Common.end(), std::mt19937(5));
    return Common.left(Common.size() / 2) + "STUVWXYZ" + Common.mid(Common.size() / 2);
}

// Reads Compressed in pieces of at most Piece bytes.
Inflater::Source PiecesOf(const QByteArray &Compressed, qint64 Piece)
{
    auto Position = std::make_shared<qint64>(0);
    return [Compressed, Piece, Position](char *Buffer, qint64 Count) {
        const qint64 Got = qMin(qMin(Count, Piece), Compressed.size() - *Position);
        std::memcpy(Buffer, Compressed.constData() + *Position, size_t(Got));
        *Position += Got;
        return Got;
    };
}

struct Outcome {
    QByteArray Output;
    std::optional<std::string> Failure;
    bool operator==(const Outcome &) const = default;
};

// Everything the stream gives, asked for in blocks of Block bytes, up to Limit bytes.
Outcome InflateAll(const QByteArray &Compressed, qint64 Block, qint64 Piece = 1 << 30, qint64 Limit = 8 << 20)
{
    Inflater Decoder;
    Decoder.Reset(PiecesOf(Compressed, Piece));
    Outcome Result;
    try {
        while (Result.Output.size() < Limit) {
            const qint64 Wanted = qMin(Block, Limit - Result.Output.size());
            const std::span<const char> Made = Decoder.Next(Wanted);
            Result.Output.append(Made.data(), qsizetype(Made.size()));
            if (qint64(Made.size()) < Wanted)
                break;
        }
    } catch (const Failure &Error) {
        Result.Failure = Error.Message().toStdString();
    }
    return Result;
}

// zlib's inflate over the whole input; its failure text as the zlib stream handler gives it.
Outcome ZlibInflate(const QByteArray &Compressed, qint64 Limit = 8 << 20)
{
    z_stream Stream{};
    inflateInit2(&Stream, -MAX_WBITS);
    Outcome Result;
    Result.Output.resize(qsizetype(Limit));
    Stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Compressed.constData()));
    Stream.avail_in = uInt(Compressed.size());
    Stream.next_out = reinterpret_cast<Bytef *>(Result.Output.data());
    Stream.avail_out = uInt(Limit);
    const int Status = inflate(&Stream, Z_NO_FLUSH);
    if (Status != Z_OK && Status != Z_STREAM_END && Status != Z_BUF_ERROR)
        Result.Failure = zError(Status);
    Result.Output.resize(qsizetype(Stream.total_out));
    inflateEnd(&Stream);
    return Result;
}

struct RoundTripCase {
    const char *Name;
    QByteArray Content;
};

void PrintTo(const RoundTripCase &Case, std::ostream *Out) { *Out << Case.Name; }

class InflaterRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(InflaterRoundTrip, GivesBackWhatDeflateTookAtEveryLevelAndStrategy)
{
    const QByteArray &Content = GetParam().Content;
    for (const auto &[Level, Strategy] : {std::pair{0, Z_DEFAULT_STRATEGY}, {1, Z_DEFAULT_STRATEGY},
                                          {6, Z_DEFAULT_STRATEGY}, {9, Z_FILTERED}, {6, Z_HUFFMAN_ONLY},
                                          {6, Z_RLE}, {6, Z_FIXED}}) {
        SCOPED_TRACE(testing::Message() << "level " << Level << " strategy " << Strategy);
        const QByteArray Compressed = RawDeflate(Content, Level, Strategy);
        for (const qint64 Block : {qint64(1) << 20, qint64(65536), qint64(1000)}) {
            SCOPED_TRACE(Block);
            const Outcome Result = InflateAll(Compressed, Block);
            EXPECT_FALSE(Result.Failure);
            EXPECT_TRUE(Result.Output == Content) << Result.Output.size() << " bytes of " << Content.size();
        }
    }
}

// The input arriving a few bytes at a time keeps the decoder on its careful path and makes
// every block header, table and match cross a refill.
TEST_P(InflaterRoundTrip, GivesBackTheSameWhenTheInputComesInSmallPieces)
{
    const QByteArray &Content = GetParam().Content;
    const QByteArray Compressed = RawDeflate(Content);
    for (const qint64 Piece : {1, 3, 9, 4096}) {
        SCOPED_TRACE(Piece);
        const Outcome Result = InflateAll(Compressed, 100000, Piece);
        EXPECT_FALSE(Result.Failure);
        EXPECT_TRUE(Result.Output == Content);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Contents, InflaterRoundTrip,
    ::testing::Values(RoundTripCase{"empty", {}}, RoundTripCase{"one_byte", "x"},
                      RoundTripCase{"text", Text(200000, 1)},
                      RoundTripCase{"noise_in_stored_blocks", Noise(300000, 2)},
                      RoundTripCase{"zeros_over_several_blocks", QByteArray(3 << 20, '\0')},
                      RoundTripCase{"short_periods", Pattern(100000)},
                      RoundTripCase{"literals_with_codes_of_15_bits", LongCodes()},
                      RoundTripCase{"text_and_noise_past_the_history", Text(1 << 20, 3) + Noise(70000, 4) + Text(1 << 20, 3)}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(Inflater, HandsOutExactlyWhatIsAskedAndSaysWhetherMoreFollows)
{
    const QByteArray Content = Text(50000, 5);
    Inflater Decoder;
    Decoder.Reset(PiecesOf(RawDeflate(Content), 1 << 30));
    const std::span<const char> First = Decoder.Next(30000);
    ASSERT_EQ(First.size(), 30000u);
    EXPECT_EQ(QByteArray(First.data(), 30000), Content.left(30000));
    EXPECT_TRUE(Decoder.GoesOn());
    const std::span<const char> Rest = Decoder.Next(Inflater::MaxBlock);
    ASSERT_EQ(Rest.size(), 19999u);
    EXPECT_EQ(QByteArray(Rest.data(), 19999), Content.mid(30001));
    EXPECT_FALSE(Decoder.GoesOn());
}

TEST(Inflater, StopsAtTheEndOfTheStreamWhateverFollowsIt)
{
    const QByteArray Content = Text(5000, 6);
    const Outcome Result = InflateAll(RawDeflate(Content) + "PK\x03\x04 trailing bytes", 4096);
    EXPECT_FALSE(Result.Failure);
    EXPECT_TRUE(Result.Output == Content);
}

// Every cut of a valid stream gives a beginning of its output, never a failure: no verdict may
// rest on bits that are not there.
TEST(Inflater, ACutStreamGivesABeginningOfItsOutput)
{
    for (const auto &[Content, Strategy] : {std::pair{Text(3000, 7), Z_DEFAULT_STRATEGY},
                                            {Text(3000, 8), Z_FIXED}, {Noise(700, 9), Z_DEFAULT_STRATEGY}}) {
        const QByteArray Compressed = RawDeflate(Content, 6, Strategy);
        for (qsizetype Cut = 0; Cut < Compressed.size(); ++Cut) {
            SCOPED_TRACE(Cut);
            const Outcome Result = InflateAll(Compressed.left(Cut), 4096, Cut % 5 + 1);
            ASSERT_FALSE(Result.Failure);
            ASSERT_TRUE(Content.startsWith(Result.Output));
            ASSERT_EQ(Result, ZlibInflate(Compressed.left(Cut)));
        }
    }
}

// Streams written bit by bit, least significant bit first as deflate packs them.
class Bits {
public:
    Bits &Put(uint32_t Value, int Count)
    {
        for (int Bit = 0; Bit < Count; ++Bit, Value >>= 1) {
            if (Used % 8 == 0)
                Bytes.append('\0');
            Bytes[Bytes.size() - 1] = char(Bytes.back() | (Value & 1) << (Used % 8));
            ++Used;
        }
        return *this;
    }
    // A Huffman code goes most significant bit first.
    Bits &Code(uint32_t Code, int Length)
    {
        for (int Bit = Length - 1; Bit >= 0; --Bit)
            Put(Code >> Bit & 1, 1);
        return *this;
    }
    // Fixed-code symbols: literals 0-143 are 8-bit codes from 0x30; length 3 (symbol 257) is
    // the 7-bit code 1; symbols 280-287 are 8-bit codes from 0xC0; distances 5-bit codes.
    Bits &FixedLiteral(int Byte) { return Code(0x30 + uint32_t(Byte), 8); }
    Bits &FixedLength3() { return Code(1, 7); }
    QByteArray Bytes;

private:
    int Used = 0;
};

struct MalformedCase {
    const char *Name;
    QByteArray Stream;
};

void PrintTo(const MalformedCase &Case, std::ostream *Out) { *Out << Case.Name; }

class InflaterMalformed : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(InflaterMalformed, FailsWithZlibsDataErrorAsZlibDoes)
{
    const QByteArray &Stream = GetParam().Stream;
    const Outcome Ours = InflateAll(Stream, 4096);
    EXPECT_EQ(Ours.Failure, std::optional<std::string>("data error"));
    EXPECT_EQ(ZlibInflate(Stream).Failure, std::optional<std::string>("data error"));
}

Bits FixedBlock()
{
    return Bits().Put(1, 1).Put(1, 2);
}

// A dynamic block header: counts, then the code-length code's lengths in their listed order.
Bits DynamicHeader(int LitLenCount, int DistanceCount, std::initializer_list<int> CodeLengthLengths)
{
    Bits Stream;
    Stream.Put(1, 1).Put(2, 2).Put(uint32_t(LitLenCount - 257), 5).Put(uint32_t(DistanceCount - 1), 5);
    Stream.Put(uint32_t(CodeLengthLengths.size() - 4), 4);
    for (const int Length : CodeLengthLengths)
        Stream.Put(uint32_t(Length), 3);
    return Stream;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, InflaterMalformed,
    ::testing::Values(
        MalformedCase{"block_type_3", Bits().Put(1, 1).Put(3, 2).Bytes},
        MalformedCase{"stored_length_not_matching_its_complement",
                      Bits().Put(1, 1).Put(0, 2).Put(5, 5).Put(4, 16).Put(0xFFFA, 16).Put(0, 32).Bytes},
        MalformedCase{"match_reaching_before_the_start",
                      FixedBlock().FixedLiteral('a').FixedLength3().Code(1, 5).Put(0, 8).Bytes},
        MalformedCase{"fixed_length_symbol_286", FixedBlock().Code(0xC6, 8).Put(0, 16).Bytes},
        MalformedCase{"fixed_distance_code_30",
                      FixedBlock().FixedLiteral('a').FixedLength3().Code(30, 5).Put(0, 16).Bytes},
        MalformedCase{"too_many_literal_length_codes", DynamicHeader(287, 1, {0, 0, 0, 0}).Put(0, 16).Bytes},
        MalformedCase{"too_many_distance_codes", DynamicHeader(257, 31, {0, 0, 0, 0}).Put(0, 16).Bytes},
        // Four one-bit codes for 16, 17, 18 and 0.
        MalformedCase{"over_subscribed_code_length_code", DynamicHeader(257, 1, {1, 1, 1, 1}).Put(0, 32).Bytes},
        // A single one-bit code: allowed for distances, not for the code-length code.
        MalformedCase{"incomplete_code_length_code", DynamicHeader(257, 1, {0, 0, 0, 1}).Put(0, 32).Bytes},
        // 0 is code 0, 16 code 1: a repeat of a length before any.
        MalformedCase{"repeat_before_any_length", DynamicHeader(257, 1, {1, 0, 0, 1}).Code(1, 1).Put(0, 2).Put(0, 32).Bytes},
        // 0 is code 0, 18 code 1: 138 + 120 zero lengths, no end-of-block code.
        MalformedCase{"no_end_of_block_code",
                      DynamicHeader(257, 1, {0, 0, 1, 1}).Code(1, 1).Put(127, 7).Code(1, 1).Put(109, 7).Put(0, 32).Bytes},
        // As above but 139 zeros where 138 + 120 = 258 are wanted: one too many.
        MalformedCase{"repeat_past_the_last_length",
                      DynamicHeader(257, 1, {0, 0, 1, 1}).Code(1, 1).Put(127, 7).Code(1, 1).Put(110, 7).Put(0, 32).Bytes}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// Random damage to real streams: bits flipped, bytes dropped or inserted, streams cut. Both
// decoders must give the same output and the same verdict.
TEST(Inflater, DamagedStreamsGetZlibsVerdict)
{
    const QByteArray Contents[] = {Text(20000, 10), Pattern(20000), Noise(3000, 11) + Text(5000, 12)};
    std::mt19937 Random(2026);
    int Failures = 0;
    for (int Round = 0; Round < 3000; ++Round) {
        const QByteArray &Content = Contents[Round % 3];
        QByteArray Stream = RawDeflate(Content, Round % 10, Round % 5 == 4 ? Z_FIXED : Z_DEFAULT_STRATEGY);
        for (int Damage = 0; Damage <= int(Random() % 4); ++Damage) {
            const qsizetype At = qsizetype(Random() % uint32_t(Stream.size()));
            switch (Random() % 4) {
            case 0:
            case 1:
                Stream[At] = char(Stream[At] ^ (1 << (Random() % 8)));
                break;
            case 2:
                Stream.remove(At, 1 + qsizetype(Random() % 3));
                break;
            default:
                Stream.insert(At, char(Random()));
            }
        }
        const Outcome Ours = InflateAll(Stream, Round % 2 ? 1000 : Inflater::MaxBlock, Round % 3 ? 1 << 30 : 7);
        const Outcome Zlib = ZlibInflate(Stream);
        SCOPED_TRACE(Stream.toHex().toStdString());
        ASSERT_EQ(Ours.Failure, Zlib.Failure) << "round " << Round;
        if (Zlib.Failure) {
            ++Failures;
            // A failed block is not handed out; what was is zlib's output too.
            ASSERT_TRUE(Zlib.Output.startsWith(Ours.Output)) << "round " << Round;
        } else {
            ASSERT_TRUE(Ours.Output == Zlib.Output) << "round " << Round;
        }
    }
    // The damage must reach the decoders' checks, not only their output.
    EXPECT_GT(Failures, 300);
}

} // namespace
