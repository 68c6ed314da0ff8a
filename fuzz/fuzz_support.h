#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// What every fuzz target shares: a broken promise of the code under test ends the run like a
// crash, so that libFuzzer keeps the input that shows it.
#define FUZZ_REQUIRE(condition)                                                                    \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition);          \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

inline QByteArrayView InputBytes(const uint8_t *data, size_t size)
{
    return QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The input as UTF-8 text (malformed bytes replaced), one item per line.
inline QStringList InputLines(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(InputBytes(data, size)).split(u'\n');
}

// True when every character is printable ASCII: what may go into a request line or header.
inline bool IsPrintableAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F)
            return false;
    }
    return true;
}

inline bool IsHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// True when every "%" is followed by two hex digits, so the text reads back as it was meant.
inline bool EscapesAreWhole(const QString &text)
{
    for (qsizetype i = text.indexOf(u'%'); i >= 0; i = text.indexOf(u'%', i + 1)) {
        if (i + 2 >= text.size() || !IsHexDigit(text[i + 1]) || !IsHexDigit(text[i + 2]))
            return false;
    }
    return true;
}
