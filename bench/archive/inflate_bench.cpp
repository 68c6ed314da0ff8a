// Inflating one large deflate stream: our streaming Inflater against zlib's streaming inflate
// (what the stream handler uses) and libdeflate's whole-buffer decoder (which needs the whole
// output in memory), on text and on half noise, half text, both compressed at level 6.
#include "inflater.h"

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t Size = 32 << 20;

std::string Text(std::mt19937 &Random, size_t Count)
{
    std::vector<std::string> Words;
    for (int Word = 0; Word < 2000; ++Word) {
        std::string Letters;
        for (int Letter = 0, Length = 2 + int(Random() % 8); Letter < Length; ++Letter)
            Letters += char('a' + Random() % 26);
        Words.push_back(Letters);
    }
    std::string Out;
    while (Out.size() < Count)
        Out += Words[Random() % Words.size()] + (Random() % 64 ? " " : "\n");
    Out.resize(Count);
    return Out;
}

std::string Content(bool HalfNoise)
{
    std::mt19937 Random(1);
    if (!HalfNoise)
        return Text(Random, Size);
    std::string Out;
    while (Out.size() < Size) {
        for (int Byte = 0; Byte < (1 << 19); ++Byte)
            Out += char(Random());
        Out += Text(Random, 1 << 19);
    }
    return Out;
}

const std::string &Compressed(bool HalfNoise)
{
    static std::string Streams[2];
    std::string &Stream = Streams[HalfNoise];
    if (Stream.empty()) {
        const std::string Plain = Content(HalfNoise);
        z_stream Z{};
        deflateInit2(&Z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        Stream.resize(deflateBound(&Z, uLong(Plain.size())));
        Z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Plain.data()));
        Z.avail_in = uInt(Plain.size());
        Z.next_out = reinterpret_cast<Bytef *>(Stream.data());
        Z.avail_out = uInt(Stream.size());
        deflate(&Z, Z_FINISH);
        Stream.resize(Z.total_out);
        deflateEnd(&Z);
    }
    return Stream;
}

void Inflater_(benchmark::State &State)
{
    const std::string &Stream = Compressed(State.range(0));
    Inflater Decoder;
    for (auto _ : State) {
        size_t At = 0;
        Decoder.Reset([&](char *Buffer, qint64 Count) {
            const size_t Got = std::min(size_t(Count), Stream.size() - At);
            std::memcpy(Buffer, Stream.data() + At, Got);
            At += Got;
            return qint64(Got);
        });
        size_t Made = 0;
        for (std::span<const char> Block; !(Block = Decoder.Next(Inflater::MaxBlock)).empty();)
            Made += Block.size();
        benchmark::DoNotOptimize(Made);
    }
    State.SetBytesProcessed(int64_t(State.iterations() * Size));
}

// As the stream handler reads: 64 KiB of input and 1 MiB of output at a time.
void Zlib(benchmark::State &State)
{
    const std::string &Stream = Compressed(State.range(0));
    std::vector<char> Output(1 << 20);
    for (auto _ : State) {
        z_stream Z{};
        inflateInit2(&Z, -MAX_WBITS);
        size_t At = 0;
        int Status = Z_OK;
        while (Status == Z_OK) {
            if (Z.avail_in == 0) {
                Z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Stream.data() + At));
                Z.avail_in = uInt(std::min<size_t>(65536, Stream.size() - At));
                At += Z.avail_in;
            }
            Z.next_out = reinterpret_cast<Bytef *>(Output.data());
            Z.avail_out = uInt(Output.size());
            Status = inflate(&Z, Z_NO_FLUSH);
        }
        benchmark::DoNotOptimize(Z.total_out);
        inflateEnd(&Z);
    }
    State.SetBytesProcessed(int64_t(State.iterations() * Size));
}

void LibdeflateWhole(benchmark::State &State)
{
    const std::string &Stream = Compressed(State.range(0));
    std::vector<char> Output(Size);
    libdeflate_decompressor *Decompressor = libdeflate_alloc_decompressor();
    for (auto _ : State) {
        size_t Made = 0;
        libdeflate_deflate_decompress(Decompressor, Stream.data(), Stream.size(), Output.data(), Output.size(), &Made);
        benchmark::DoNotOptimize(Made);
    }
    libdeflate_free_decompressor(Decompressor);
    State.SetBytesProcessed(int64_t(State.iterations() * Size));
}

} // namespace

// Argument 0: text; 1: half noise, half text.
BENCHMARK(Inflater_)->Name("Inflater")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Zlib)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(LibdeflateWhole)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
