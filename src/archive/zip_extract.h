#pragma once

#include <QString>

// Unpacks every entry of the ZIP archive ZipFileName into the folder Path (made when
// missing), decoding names without the UTF-8 flag with code page Encoding (936 = GBK,
// 65001 = UTF-8). The first failure ends the work and is thrown as a Failure; what was
// extracted before it stays.
void ExtractZipFile(const QString &ZipFileName, const QString &Path, int Encoding);

// The sum of the sizes the archive's central directory gives its entries: the most that
// unpacking it can write, since no entry may write more than its size. Fails as opening for
// extraction fails (overlapping entries included), so a refused archive is found before space
// is looked for.
quint64 DeclaredUnpackedSize(const QString &ZipFileName);
