#include "text.h"

#include <QStringDecoder>
#include <QStringEncoder>

// Debian's Qt converts GBK through ICU; Linux has no ANSI code page, so GBK stands in for it.

QString DecodeGbk(QByteArrayView bytes)
{
    // The decoder holds back a lead byte that ends the input, waiting for its trail byte; an
    // appended space completes it as an invalid pair, replaced like any other, and is dropped.
    QStringDecoder decoder("GBK");
    QString text = decoder.decode(bytes.toByteArray() + ' ');
    text.chop(1);
    return text;
}

QByteArray EncodeGbk(const QString &text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

bool GbkAvailable()
{
    return QStringDecoder("GBK").isValid();
}

QString DecodeAnsi(QByteArrayView bytes)
{
    return DecodeGbk(bytes);
}

QByteArray EncodeAnsi(const QString &text)
{
    return EncodeGbk(text);
}
