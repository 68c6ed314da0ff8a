#include "text.h"

#include <windows.h>

#include <climits>

// Windows converts code pages itself; the Qt built for it has no ICU and so no GBK.

namespace {

constexpr UINT Gbk = 936;

// The longest prefix of at most limit bytes that ends between two characters, so that a
// text too long for one call is never cut inside a byte pair.
qsizetype WholeCharacters(UINT codePage, QByteArrayView bytes, qsizetype limit)
{
    if (bytes.size() <= limit)
        return bytes.size();
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype step = IsDBCSLeadByteEx(codePage, BYTE(bytes[at])) ? 2 : 1;
        if (at + step > limit)
            break;
        at += step;
    }
    return at;
}

QString Decode(UINT codePage, QByteArrayView bytes)
{
    QString text;
    while (!bytes.isEmpty()) {
        const int count = int(WholeCharacters(codePage, bytes, INT_MAX / 2));
        const int wide = MultiByteToWideChar(codePage, 0, bytes.data(), count, nullptr, 0);
        const qsizetype at = text.size();
        text.resize(at + wide);
        MultiByteToWideChar(codePage, 0, bytes.data(), count, reinterpret_cast<wchar_t *>(text.data() + at), wide);
        bytes = bytes.sliced(count);
    }
    return text;
}

QByteArray Encode(UINT codePage, const QString &text)
{
    QByteArray bytes;
    for (qsizetype at = 0; at < text.size();) {
        qsizetype count = qMin<qsizetype>(text.size() - at, INT_MAX / 4);
        // A surrogate pair stays in one call.
        if (at + count < text.size() && text[at + count - 1].isHighSurrogate())
            --count;
        const auto *wide = reinterpret_cast<const wchar_t *>(text.constData() + at);
        const int size = WideCharToMultiByte(codePage, 0, wide, int(count), nullptr, 0, nullptr, nullptr);
        const qsizetype end = bytes.size();
        bytes.resize(end + size);
        WideCharToMultiByte(codePage, 0, wide, int(count), bytes.data() + end, size, nullptr, nullptr);
        at += count;
    }
    return bytes;
}

} // namespace

QString DecodeGbk(QByteArrayView bytes)
{
    return Decode(Gbk, bytes);
}

QByteArray EncodeGbk(const QString &text)
{
    return Encode(Gbk, text);
}

bool GbkAvailable()
{
    return IsValidCodePage(Gbk);
}

QString DecodeAnsi(QByteArrayView bytes)
{
    return Decode(CP_ACP, bytes);
}

QByteArray EncodeAnsi(const QString &text)
{
    return Encode(CP_ACP, text);
}
