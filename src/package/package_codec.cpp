#include "package_codec.h"

#include "failure.h"
#include "package_format.h"
#include "text.h"

static int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray DecodePackageText(QByteArrayView payload)
{
    const qsizetype count = payload.size() / 2;
    QByteArray plain;
    plain.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        const QByteArrayView pair = payload.sliced(2 * i, 2);
        const int high = HexDigitValue(pair[0]);
        const int low = HexDigitValue(pair[1]);
        if (high < 0 || low < 0) {
            throw Failure("EConvertError",
                          QStringLiteral("'$%1' is not a valid integer value").arg(DecodeGbk(pair)));
        }
        plain.append(char((high << 4 | low) ^ PackageKey[i % PackageKey.size()]));
    }
    return plain;
}

QByteArray EncodePackageText(QByteArrayView plain)
{
    QByteArray keyed(plain.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < plain.size(); ++i)
        keyed[i] = char(quint8(plain[i]) ^ PackageKey[i % PackageKey.size()]);
    return keyed.toHex().toUpper();
}
