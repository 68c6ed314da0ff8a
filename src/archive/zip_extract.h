#pragma once

#include "extract_control.h"

#include <QString>

// Unpacks every entry of the ZIP archive ZipFileName into the folder Path (made when
// missing), decoding names without the UTF-8 flag with code page Encoding (936 = GBK,
// 65001 = UTF-8). The first failure ends the work and is thrown as a Failure; what was
// extracted before it stays. Entries' data is written on Options.Threads threads; the failure
// is the one a run in directory order meets first, and entries after it may have been
// written in part. A stop asked for through Options.Control ends it with "Operation aborted".
void ExtractZipFile(const QString &ZipFileName, const QString &Path, int Encoding,
                    const TExtractOptions &Options = {});

// The sum of the sizes the archive's central directory gives its entries: the most that
// unpacking it can write, since no entry may write more than its size. Fails as opening for
// extraction fails (overlapping entries included), so a refused archive is found before space
// is looked for. A stop asked for through Control ends it with "Operation aborted".
quint64 DeclaredUnpackedSize(const QString &ZipFileName, const TExtractControl *Control = nullptr);
