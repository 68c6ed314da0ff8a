#include "compression_handlers.h"

#include <map>
#include <set>
#include <utility>

namespace {

struct THandlerPair {
    TStreamConstructor Compress;
    TStreamConstructor Decompress;
};

// Extraction only reads, so the built-in methods have no compress side.
std::map<TZipCompression, THandlerPair> &HandlerTable()
{
    static std::map<TZipCompression, THandlerPair> Table{
        {0,
         {nullptr,
          [](QIODevice &InStream, const TZipFile &, const TZipHeader &) -> std::unique_ptr<TZipStream> {
              return std::make_unique<TStoredStream>(InStream);
          }}},
        {8,
         {nullptr,
          [](QIODevice &InStream, const TZipFile &, const TZipHeader &) -> std::unique_ptr<TZipStream> {
              return std::make_unique<TZDecompressionStream>(InStream);
          }}},
    };
    return Table;
}

std::set<TZipCompression> &ReplacedMethods()
{
    static std::set<TZipCompression> Replaced;
    return Replaced;
}

} // namespace

void RegisterCompressionHandler(TZipCompression Compression, TStreamConstructor CompressStream,
                                TStreamConstructor DecompressStream)
{
    ReplacedMethods().insert(Compression);
    HandlerTable()[Compression] = {std::move(CompressStream), std::move(DecompressStream)};
}

TStreamConstructor FindDecompressionHandler(TZipCompression Compression)
{
    const auto Found = HandlerTable().find(Compression);
    return Found == HandlerTable().end() ? TStreamConstructor() : Found->second.Decompress;
}

bool HasBuiltInHandler(TZipCompression Compression)
{
    return !ReplacedMethods().contains(Compression) && HandlerTable().contains(Compression);
}
