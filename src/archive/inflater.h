#pragma once

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

// A raw deflate decoder (RFC 1951) for entries too large to decode whole. It pulls its input
// through a function and hands its output out in blocks, taking about two thirds of the time of
// zlib's streaming inflate (a 64-bit bit buffer, wide tables, matches copied eight bytes at a time).
// Its verdicts are zlib's: a malformed stream fails with "data error"; input that ends early
// just ends the output.
class Inflater {
public:
    // Fills Buffer with up to Count compressed bytes; 0 (or less) once there are no more.
    using Source = std::function<qint64(char *Buffer, qint64 Count)>;

    static constexpr qint64 MaxBlock = 1 << 20;
    static constexpr qint64 History = 32768;
    // Room behind a block for the match that crosses its end and the match copies' overrun.
    static constexpr qint64 OutputSlack = 512;
    // What the output takes: the largest block, the history before it and the slack after it.
    static constexpr qint64 OutputSize = History + MaxBlock + OutputSlack;

    // Starts a new stream; the first call. The output goes to output (OutputSize bytes, kept
    // by the caller until the next Reset) or, without it, to a buffer of the decoder's own.
    void Reset(Source source, unsigned char *output = nullptr);
    // The next Count (at most MaxBlock) bytes of output; fewer only when the stream or its input
    // ends first. The bytes stay valid until the next call.
    std::span<const char> Next(qint64 Count);
    // True when the stream holds output past what Next has handed out.
    bool GoesOn();

private:
    enum class Block { Header, Stored, Huffman };

    static constexpr int LitLenBits = 11;
    static constexpr int DistanceBits = 8;
    static constexpr int CodeLengthBits = 7;
    static constexpr qint64 InputSize = 256 * 1024;

    void MakeRoom(qint64 Count);
    void ReadBlockHeader();
    // After the final block the stream has ended, whatever follows it.
    void EndBlock();
    void ReadDynamicTables();
    void UseFixedTables();
    void CopyStored(size_t Target);
    void DecodeHuffman(size_t Target);
    template <bool Safe>
    unsigned char *DecodeSymbols(unsigned char *Out, const unsigned char *Stop);

    bool LoadInput();
    void Fill();
    // Take bits from the buffer; a read that reaches past the input's end ends the stream.
    void Drop(int Count);
    uint32_t Take(int Count);

    Source source_;
    // Read ahead of the bit buffer, allocated by the first Reset.
    std::unique_ptr<unsigned char[]> input_;
    size_t inputPos_ = 0;
    size_t inputEnd_ = 0;
    bool sourceEnded_ = false;
    // Zero bytes stood in for input past its end; a symbol that reaches into them ends the stream.
    int missingBytes_ = 0;
    uint64_t bits_ = 0;
    int bitCount_ = 0;

    // The output with at least the last 32 KiB before produced_ kept for matches to reach back;
    // the caller's buffer or ownOutput_.
    unsigned char *output_ = nullptr;
    std::unique_ptr<unsigned char[]> ownOutput_;
    size_t produced_ = 0;
    size_t handedOut_ = 0;

    Block block_ = Block::Header;
    bool lastBlock_ = false;
    bool ended_ = false;
    uint32_t storedLeft_ = 0;
    bool fixedTables_ = false;

    // A primary table indexed by the next bits, then subtables for longer codes.
    std::array<uint32_t, (1 << LitLenBits) + 288 * (1 << (15 - LitLenBits))> litLen_{};
    std::array<uint32_t, (1 << DistanceBits) + 32 * (1 << (15 - DistanceBits))> distance_{};
    std::array<uint32_t, 1 << CodeLengthBits> codeLength_{};
};
