#pragma once

#include <QByteArray>
#include <QString>

enum class CodePage { Gbk = 936, Utf8 = 65001 };

// A banner, a notice or a list is far smaller: a body past this is no such thing, and would
// only fill the memory.
inline constexpr qint64 LongestFetchedBody = 32 << 20;

// The whole body at the address, fetched into memory by a fresh client with its default
// settings (redirects not followed). Raises the client's failure, and one for a body longer
// than LongestFetchedBody.
QByteArray FetchBytes(const QString &address);

// The whole body at the address, decoded with the caller's code page (the reply's declared
// character set plays no part). Never fails: any failure, an invalid UTF-8 body included,
// gives the empty text.
QString FetchText(const QString &address, CodePage codePage);
