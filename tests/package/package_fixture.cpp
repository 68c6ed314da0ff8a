#include "package_fixture.h"

#include "package_format.h"
#include "text.h"

#include <QFile>
#include <QStringList>
#include <gtest/gtest.h>

QByteArray EncodePayload(const QByteArray &plain, bool lowerCase)
{
    static const char upper[] = "0123456789ABCDEF";
    static const char lower[] = "0123456789abcdef";
    const char *digits = lowerCase ? lower : upper;
    QByteArray hex;
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const quint8 byte = quint8(plain[i]) ^ PackageKey[i % 8];
        hex.append(digits[byte >> 4]).append(digits[byte & 15]);
    }
    return hex;
}

QByteArray Trailer(qint32 n)
{
    const quint32 bits = quint32(n);
    const char bytes[] = {char(bits & 0xFF), char(bits >> 8 & 0xFF), char(bits >> 16 & 0xFF),
                          char(bits >> 24)};
    return QByteArray(bytes, 4);
}

QByteArray PackageFile(const QString &decodedText)
{
    const QByteArray payload = EncodePayload(EncodeGbk(decodedText));
    return payload + Trailer(qint32(payload.size()));
}

QString FieldsText(const std::map<int, QString> &values)
{
    QStringList fields(32);
    for (const auto &[index, value] : values)
        fields[index] = value;
    return fields.join(u'`');
}

QString WellFormedText(const QString &addressTriple)
{
    return FieldsText({{2, "pid-42"},
                       {13, QString::fromLatin1(EncodePayload("check"))},
                       {15, QStringLiteral("安装程序.exe")},
                       {21, addressTriple},
                       {30, "http://a.test/versions"}});
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}
