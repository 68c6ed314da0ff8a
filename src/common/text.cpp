#include "text.h"

#include <QStringDecoder>
#include <QStringEncoder>

QStringList SplitFields(const QString &text, QChar separator)
{
    if (text.isEmpty())
        return {};
    return text.split(separator, Qt::KeepEmptyParts);
}

static bool IsControlOrBlank(QChar c)
{
    return c.unicode() <= 0x20;
}

QString TrimControls(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsControlOrBlank(text[begin]))
        ++begin;
    while (end > begin && IsControlOrBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QString FoldAsciiCase(const QString &text)
{
    QString folded = text;
    for (QChar &c : folded) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return folded;
}

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

std::optional<QString> DecodeUtf8Strict(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}
