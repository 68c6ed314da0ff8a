#pragma once

#include "zip_header.h"
#include "zip_streams.h"

#include <functional>
#include <memory>

class TZipFile;

// The method number as the handler table keys it: the low byte of the method field.
using TZipCompression = quint8;

// Makes the reader (or writer) of one entry's data over the archive stream, which stands at
// the entry's first data byte. Item is the entry's local header.
using TStreamConstructor = std::function<std::unique_ptr<TZipStream>(
    QIODevice &InStream, const TZipFile &ZipFile, const TZipHeader &Item)>;

// Adds or replaces the handlers of one method. The table holds stored (0) and deflated (8)
// from the start; it is meant to be changed only while the program starts.
void RegisterCompressionHandler(TZipCompression Compression, TStreamConstructor CompressStream,
                                TStreamConstructor DecompressStream);

// The decompress constructor of a method, or an empty function when the method has none.
TStreamConstructor FindDecompressionHandler(TZipCompression Compression);

// True while the method's handlers are the ones the table starts with, so a reader may decode
// the method its own way.
bool HasBuiltInHandler(TZipCompression Compression);
