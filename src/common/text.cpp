#include "text.h"

#include <QStringDecoder>

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

std::optional<QString> DecodeUtf8Strict(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}
