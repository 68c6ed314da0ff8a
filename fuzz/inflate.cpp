// Bytes as a raw deflate stream, decoded by the Inflater and by zlib's inflate: both must give
// the same verdict, and the same output (where the Inflater failed, what it handed out before
// must begin zlib's). The first byte chooses how the input is served and the output asked for.
#include "failure.h"
#include "fuzz_support.h"
#include "inflater.h"

#include <zlib.h>

#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr qint64 Limit = 1 << 20;

struct Outcome {
    std::string output;
    std::optional<std::string> failure;
};

Outcome Ours(const uint8_t *data, size_t size, qint64 piece, qint64 block)
{
    Inflater decoder;
    size_t at = 0;
    decoder.Reset([&](char *buffer, qint64 count) {
        const size_t got = std::min({size_t(count), size_t(piece), size - at});
        std::memcpy(buffer, data + at, got);
        at += got;
        return qint64(got);
    });
    Outcome result;
    try {
        while (qint64(result.output.size()) < Limit) {
            const qint64 wanted = std::min(block, Limit - qint64(result.output.size()));
            const std::span<const char> made = decoder.Next(wanted);
            result.output.append(made.data(), made.size());
            if (qint64(made.size()) < wanted)
                break;
        }
    } catch (const Failure &error) {
        result.failure = error.Message().toStdString();
    }
    return result;
}

Outcome Zlib(const uint8_t *data, size_t size)
{
    z_stream stream{};
    inflateInit2(&stream, -MAX_WBITS);
    Outcome result;
    result.output.resize(Limit);
    stream.next_in = const_cast<Bytef *>(data);
    stream.avail_in = uInt(size);
    stream.next_out = reinterpret_cast<Bytef *>(result.output.data());
    stream.avail_out = uInt(Limit);
    const int status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
        result.failure = zError(status);
    result.output.resize(stream.total_out);
    inflateEnd(&stream);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t choice = data[0];
    const qint64 piece = (choice & 15) == 0 ? qint64(1) << 30 : choice & 15;
    const qint64 block = choice & 16 ? Inflater::MaxBlock : 1 + (choice >> 5) * 97;
    const Outcome ours = Ours(data + 1, size - 1, piece, block);
    const Outcome zlib = Zlib(data + 1, size - 1);
    // zlib, given all the room at once, can see a fault just past the limit that we never reach.
    if (zlib.output.size() == size_t(Limit))
        return 0;
    FUZZ_REQUIRE(ours.failure == zlib.failure);
    if (zlib.failure)
        FUZZ_REQUIRE(zlib.output.compare(0, ours.output.size(), ours.output) == 0 &&
                     ours.output.size() <= zlib.output.size());
    else
        FUZZ_REQUIRE(ours.output == zlib.output);
    return 0;
}
