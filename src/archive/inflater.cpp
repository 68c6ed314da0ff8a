#include "inflater.h"

#include "failure.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

// A table entry: the value (literal, length or distance base, subtable start), the kind (one
// bit each, so that a test is one instruction), the extra bits to read after the code (or a
// subtable's index bits) and the bits the code takes.
enum Kind : uint32_t { Literal = 1, Copy = 2, EndOfBlock = 4, Subtable = 8, Invalid = 16 };

constexpr uint32_t MakeEntry(Kind kind, uint32_t value, uint32_t extra, uint32_t length)
{
    return value << 16 | uint32_t(kind) << 8 | extra << 4 | length;
}
constexpr uint32_t ValueOf(uint32_t entry) { return entry >> 16; }
constexpr bool Is(uint32_t entry, Kind kind) { return entry & uint32_t(kind) << 8; }
constexpr int ExtraOf(uint32_t entry) { return int(entry >> 4 & 15); }
constexpr int LengthOf(uint32_t entry) { return int(entry & 15); }
constexpr uint64_t Mask(int bits) { return (uint64_t(1) << bits) - 1; }

// A code that matches no symbol: zlib decides so after one bit.
constexpr uint32_t NoSymbol = MakeEntry(Invalid, 0, 0, 1);

constexpr uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                       33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                       1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists the code lengths of its code-length code.
constexpr uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Symbols 286, 287 and distances 30, 31 have codes in the fixed code but no meaning.
uint32_t LitLenEntry(int symbol, int length)
{
    if (symbol < 256)
        return MakeEntry(Literal, uint32_t(symbol), 0, uint32_t(length));
    if (symbol == 256)
        return MakeEntry(EndOfBlock, 0, 0, uint32_t(length));
    if (symbol < 286)
        return MakeEntry(Copy, LengthBase[symbol - 257], LengthExtra[symbol - 257], uint32_t(length));
    return MakeEntry(Invalid, 0, 0, uint32_t(length));
}

uint32_t DistanceEntry(int symbol, int length)
{
    if (symbol < 30)
        return MakeEntry(Copy, DistanceBase[symbol], DistanceExtra[symbol], uint32_t(length));
    return MakeEntry(Invalid, 0, 0, uint32_t(length));
}

uint32_t CodeLengthEntry(int symbol, int length)
{
    return MakeEntry(Literal, uint32_t(symbol), 0, uint32_t(length));
}

uint32_t Reversed(uint32_t code, int length)
{
    uint32_t result = 0;
    for (int i = 0; i < length; ++i, code >>= 1)
        result = result << 1 | (code & 1);
    return result;
}

// Fills a decoding table from the code lengths of Count symbols (RFC 1951, 3.2.2). Codes longer
// than primaryBits go to subtables of one size behind the primary table; their entries hold
// the code's whole length, so a lookup takes no bits. As in zlib, a set of
// lengths that over-subscribes the code fails, and so does an incomplete one unless it is a
// single one-bit code of a literal/length or distance code; no lengths at all is accepted and
// every code then matches no symbol.
bool BuildTable(uint32_t *table, int primaryBits, const uint8_t *lengths, int count,
                uint32_t (*entryOf)(int symbol, int length), bool singleCodeAllowed)
{
    int counts[16] = {};
    for (int symbol = 0; symbol < count; ++symbol)
        ++counts[lengths[symbol]];
    int longest = 15;
    while (longest > 0 && counts[longest] == 0)
        --longest;
    std::fill(table, table + (1 << primaryBits), NoSymbol);
    if (longest == 0)
        return true;
    int left = 1;
    for (int length = 1; length <= 15; ++length) {
        left = (left << 1) - counts[length];
        if (left < 0)
            return false;
    }
    if (left > 0 && !(singleCodeAllowed && longest == 1))
        return false;

    uint32_t next[16] = {};
    counts[0] = 0;
    for (int length = 1, code = 0; length <= 15; ++length) {
        code = (code + counts[length - 1]) << 1;
        next[length] = uint32_t(code);
    }
    const int subBits = std::max(longest - primaryBits, 0);
    uint32_t used = 1u << primaryBits;
    for (int symbol = 0; symbol < count; ++symbol) {
        const int length = lengths[symbol];
        if (length == 0)
            continue;
        const uint32_t code = Reversed(next[length]++, length);
        if (length <= primaryBits) {
            for (uint32_t at = code; at < (1u << primaryBits); at += 1u << length)
                table[at] = entryOf(symbol, length);
            continue;
        }
        uint32_t &link = table[code & Mask(primaryBits)];
        if (!Is(link, Subtable)) {
            link = MakeEntry(Subtable, used, uint32_t(subBits), uint32_t(primaryBits));
            used += 1u << subBits;
        }
        for (uint32_t at = code >> primaryBits; at < (1u << subBits); at += 1u << (length - primaryBits))
            table[ValueOf(link) + at] = entryOf(symbol, length);
    }
    return true;
}

// The entry of the code the next bits begin with.
inline uint32_t Lookup(const uint32_t *table, int primaryBits, uint64_t bits)
{
    const uint32_t entry = table[bits & Mask(primaryBits)];
    if (!Is(entry, Subtable))
        return entry;
    return table[ValueOf(entry) + (bits >> primaryBits & Mask(ExtraOf(entry)))];
}

// Thrown inside the decoder when a symbol needs input past the end; it ends the output.
struct InputEnded {};

// A copy of the decoder's bit buffer for its symbol loop.
struct BitCursor {
    uint64_t bits;
    int count;
    int missingBits; // the zero bits standing in for input past its end

    // One 8-byte load tops the buffer up to 56-63 bits. The bits it puts past the count are
    // those of the next byte, which the next load puts in the same place again.
    const unsigned char *Refill(const unsigned char *in)
    {
        bits |= qFromLittleEndian<quint64>(in) << count;
        in += (63 - count) >> 3;
        count |= 56;
        return in;
    }
    template <bool Safe>
    void Drop(int n)
    {
        bits >>= n;
        count -= n;
        if (Safe && count < missingBits)
            throw InputEnded{};
    }
    // Drops an entry's code and the extra bits after it, returning those.
    template <bool Safe>
    uint32_t TakeAfterCode(uint32_t entry)
    {
        const int code = LengthOf(entry);
        const auto extra = uint32_t((bits & Mask(code + ExtraOf(entry))) >> code);
        Drop<Safe>(code + ExtraOf(entry));
        return extra;
    }
};

[[noreturn]] void ThrowDataError()
{
    throw Failure("EZDecompressionError", QStringLiteral("data error"));
}

// Matches may overlap what they write. Those at least 16 back are copied in 16-byte steps and
// those at least 8 back in 8-byte steps, the first few without a test, since most matches are
// short and a loop's exit would be guessed wrong; so a copy may write up to 45 bytes past the
// match (the output keeps room for that).
template <size_t Step>
inline void CopySteps(unsigned char *out, const unsigned char *from, unsigned char *end, int untested)
{
    for (int step = 0; step < untested; ++step, out += Step, from += Step)
        std::memcpy(out, from, Step);
    for (; out < end; out += Step, from += Step)
        std::memcpy(out, from, Step);
}

inline void CopyMatch(unsigned char *out, size_t distance, size_t length)
{
    const unsigned char *from = out - distance;
    unsigned char *const end = out + length;
    if (distance >= 16) {
        CopySteps<16>(out, from, end, 3);
    } else if (distance >= 8) {
        CopySteps<8>(out, from, end, 5);
    } else if (distance == 1) {
        std::memset(out, *from, length);
    } else {
        do
            *out++ = *from++;
        while (out < end);
    }
}

} // namespace

void Inflater::Reset(Source source, unsigned char *output)
{
    // The buffers come with the first stream: a writer that never streams one costs nothing.
    if (!input_)
        input_.reset(new unsigned char[InputSize]);
    if (!output && !ownOutput_)
        ownOutput_.reset(new unsigned char[OutputSize]);
    output_ = output ? output : ownOutput_.get();
    source_ = std::move(source);
    inputPos_ = inputEnd_ = 0;
    sourceEnded_ = false;
    missingBytes_ = 0;
    bits_ = 0;
    bitCount_ = 0;
    produced_ = handedOut_ = 0;
    block_ = Block::Header;
    lastBlock_ = false;
    ended_ = false;
    storedLeft_ = 0;
}

std::span<const char> Inflater::Next(qint64 Count)
{
    Q_ASSERT(Count >= 0 && Count <= MaxBlock);
    MakeRoom(Count);
    const size_t target = handedOut_ + size_t(Count);
    try {
        while (produced_ < target && !ended_) {
            switch (block_) {
            case Block::Header:
                ReadBlockHeader();
                break;
            case Block::Stored:
                CopyStored(target);
                break;
            case Block::Huffman:
                DecodeHuffman(target);
                break;
            }
        }
    } catch (const InputEnded &) {
        ended_ = true;
    }
    const size_t given = std::min(produced_, target) - handedOut_;
    const char *const start = reinterpret_cast<const char *>(output_ + handedOut_);
    handedOut_ += given;
    return {start, given};
}

void Inflater::EndBlock()
{
    block_ = Block::Header;
    ended_ = lastBlock_;
}

bool Inflater::GoesOn()
{
    return !Next(1).empty();
}

// Moves the kept history and what is not handed out yet to the front when the next block
// would not fit behind them.
void Inflater::MakeRoom(qint64 Count)
{
    if (qint64(handedOut_) + Count <= History + MaxBlock)
        return;
    const size_t keep = std::min(handedOut_, produced_ - std::min<size_t>(produced_, History));
    std::memmove(output_, output_ + keep, produced_ - keep);
    produced_ -= keep;
    handedOut_ -= keep;
}

bool Inflater::LoadInput()
{
    if (sourceEnded_)
        return false;
    const size_t kept = inputEnd_ - inputPos_;
    std::memmove(input_.get(), input_.get() + inputPos_, kept);
    inputPos_ = 0;
    inputEnd_ = kept;
    const qint64 got = source_(reinterpret_cast<char *>(input_.get() + kept), InputSize - qint64(kept));
    if (got <= 0) {
        sourceEnded_ = true;
        return false;
    }
    inputEnd_ += size_t(got);
    return true;
}

// Tops the bit buffer up to at least 57 bits a byte at a time, with zero bytes past the input's end.
void Inflater::Fill()
{
    while (bitCount_ <= 56) {
        if (inputPos_ == inputEnd_ && !LoadInput())
            ++missingBytes_;
        else
            bits_ |= uint64_t(input_[inputPos_++]) << bitCount_;
        bitCount_ += 8;
    }
}

void Inflater::Drop(int Count)
{
    bits_ >>= Count;
    bitCount_ -= Count;
    if (bitCount_ < missingBytes_ * 8)
        throw InputEnded{};
}

uint32_t Inflater::Take(int Count)
{
    Fill();
    const uint32_t value = uint32_t(bits_ & Mask(Count));
    Drop(Count);
    return value;
}

void Inflater::ReadBlockHeader()
{
    const uint32_t header = Take(3);
    lastBlock_ = header & 1;
    switch (header >> 1) {
    case 0: {
        Drop(bitCount_ & 7);
        const uint32_t lengths = Take(32);
        if ((lengths & 0xFFFF) != (~lengths >> 16))
            ThrowDataError();
        storedLeft_ = lengths & 0xFFFF;
        block_ = Block::Stored;
        return;
    }
    case 1:
        UseFixedTables();
        block_ = Block::Huffman;
        return;
    case 2:
        ReadDynamicTables();
        block_ = Block::Huffman;
        return;
    default:
        ThrowDataError();
    }
}

void Inflater::UseFixedTables()
{
    if (fixedTables_)
        return;
    uint8_t lengths[288 + 32];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    std::fill(lengths + 288, lengths + 320, 5);
    BuildTable(litLen_.data(), LitLenBits, lengths, 288, LitLenEntry, true);
    BuildTable(distance_.data(), DistanceBits, lengths + 288, 32, DistanceEntry, true);
    fixedTables_ = true;
}

// The checks come in zlib's order and each after the bits it looks at, so a stream cut inside
// its tables ends the output where zlib would, and a bad one fails where zlib would.
void Inflater::ReadDynamicTables()
{
    fixedTables_ = false;
    const uint32_t counts = Take(14);
    const int litLenCount = int(counts & 31) + 257;
    const int distanceCount = int(counts >> 5 & 31) + 1;
    const int codeLengthCount = int(counts >> 10) + 4;
    if (litLenCount > 286 || distanceCount > 30)
        ThrowDataError();
    uint8_t codeLengths[19] = {};
    for (int i = 0; i < codeLengthCount; ++i)
        codeLengths[CodeLengthOrder[i]] = uint8_t(Take(3));
    if (!BuildTable(codeLength_.data(), CodeLengthBits, codeLengths, 19, CodeLengthEntry, false))
        ThrowDataError();

    uint8_t lengths[286 + 30];
    const int total = litLenCount + distanceCount;
    for (int have = 0; have < total;) {
        Fill();
        const uint32_t entry = Lookup(codeLength_.data(), CodeLengthBits, bits_);
        Drop(LengthOf(entry));
        // A code that matches no symbol counts as length 0, as zlib reads it; such a block
        // fails below for want of an end-of-block code.
        const uint32_t symbol = ValueOf(entry);
        if (symbol < 16) {
            lengths[have++] = uint8_t(symbol);
            continue;
        }
        uint8_t repeated = 0;
        int times = 0;
        if (symbol == 16) {
            times = 3 + int(Take(2));
            if (have == 0)
                ThrowDataError();
            repeated = lengths[have - 1];
        } else if (symbol == 17) {
            times = 3 + int(Take(3));
        } else {
            times = 11 + int(Take(7));
        }
        if (have + times > total)
            ThrowDataError();
        std::fill(lengths + have, lengths + have + times, repeated);
        have += times;
    }
    if (lengths[256] == 0 ||
        !BuildTable(litLen_.data(), LitLenBits, lengths, litLenCount, LitLenEntry, true) ||
        !BuildTable(distance_.data(), DistanceBits, lengths + litLenCount, distanceCount, DistanceEntry, true))
        ThrowDataError();
}

void Inflater::CopyStored(size_t Target)
{
    unsigned char *const out = output_;
    // Whole bytes the bit buffer holds come first.
    while (storedLeft_ > 0 && produced_ < Target && bitCount_ >= 8) {
        const auto byte = uint8_t(bits_);
        Drop(8);
        out[produced_++] = byte;
        --storedLeft_;
    }
    if (bitCount_ == 0)
        bits_ = 0; // what a fast load put past the count is read from the input below
    while (storedLeft_ > 0 && produced_ < Target) {
        if (inputPos_ == inputEnd_ && !LoadInput())
            throw InputEnded{};
        const size_t count = std::min({size_t(storedLeft_), Target - produced_, inputEnd_ - inputPos_});
        std::memcpy(out + produced_, input_.get() + inputPos_, count);
        produced_ += count;
        inputPos_ += count;
        storedLeft_ -= uint32_t(count);
    }
    if (storedLeft_ == 0)
        EndBlock();
}

// Decodes the block's symbols until the output reaches Target (a match may run past it) or
// the block ends. While 8 bytes of input are at hand the fast loop runs without any input
// checks; near the input's end symbols are decoded one at a time with them.
void Inflater::DecodeHuffman(size_t Target)
{
    unsigned char *const base = output_;
    while (produced_ < Target && block_ == Block::Huffman) {
        if (inputEnd_ - inputPos_ < 8)
            LoadInput();
        unsigned char *const out = base + produced_;
        produced_ = size_t((inputEnd_ - inputPos_ >= 8 ? DecodeSymbols<false>(out, base + Target)
                                                        : DecodeSymbols<true>(out, base + Target)) -
                           base);
    }
}

// One refill gives at least 56 bits, enough for a whole match: a 15-bit code, 5 extra bits,
// a 15-bit distance code and 13 extra bits; or for three literals. The bit buffer and the
// input position live in locals here, which nothing else can reach: the output's byte stores
// could otherwise alias them and force them through memory.
template <bool Safe>
unsigned char *Inflater::DecodeSymbols(unsigned char *Out, const unsigned char *Stop)
{
    const unsigned char *const base = output_;
    const uint32_t *const litLen = litLen_.data();
    const uint32_t *const distances = distance_.data();
    if (Safe)
        Fill();
    BitCursor cursor{bits_, bitCount_, Safe ? missingBytes_ * 8 : 0};
    const unsigned char *in = input_.get() + inputPos_;
    const unsigned char *const lastLoad = input_.get() + inputEnd_ - 8;
    if (!Safe)
        in = cursor.Refill(in);
    // The next symbol's entry, looked up as soon as its bits are in, so that the lookup overlaps
    // the work before it. After a refill all 64 bits of the buffer are the input's, and no
    // symbol takes so many that fewer than 15 of them are left.
    uint32_t entry = Lookup(litLen, LitLenBits, cursor.bits);
    do {
        if (!Safe) {
            if (in > lastLoad)
                break;
            in = cursor.Refill(in); // the looked-up bits stay where they are
            if (Is(entry, Literal)) {
                for (int run = 0; run < 3 && Is(entry, Literal); ++run) {
                    cursor.Drop<Safe>(LengthOf(entry));
                    *Out++ = uint8_t(ValueOf(entry));
                    entry = Lookup(litLen, LitLenBits, cursor.bits);
                }
                continue;
            }
        }
        if (Is(entry, Literal)) {
            cursor.Drop<Safe>(LengthOf(entry));
            *Out++ = uint8_t(ValueOf(entry));
            continue;
        }
        if (!Is(entry, Copy)) {
            cursor.Drop<Safe>(LengthOf(entry));
            if (Is(entry, Invalid))
                ThrowDataError();
            EndBlock();
            break;
        }
        const uint32_t length = ValueOf(entry) + cursor.TakeAfterCode<Safe>(entry);
        entry = Lookup(distances, DistanceBits, cursor.bits);
        if (!Is(entry, Copy)) {
            cursor.Drop<Safe>(LengthOf(entry));
            ThrowDataError();
        }
        const uint32_t distance = ValueOf(entry) + cursor.TakeAfterCode<Safe>(entry);
        if (distance > size_t(Out - base))
            ThrowDataError();
        if (!Safe)
            entry = Lookup(litLen, LitLenBits, cursor.bits);
        CopyMatch(Out, distance, length);
        Out += length;
    } while (!Safe && Out < Stop);
    bits_ = cursor.bits;
    bitCount_ = cursor.count;
    if (!Safe)
        inputPos_ = size_t(in - input_.get());
    return Out;
}
