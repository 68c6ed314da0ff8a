#include "reply_head.h"

#include "text.h"

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString ValueAt(const QStringList &lines, qsizetype index)
{
    const QString &line = lines[index];
    QString value = TrimControls(line.mid(line.indexOf(u':') + 1));
    for (qsizetype next = index + 1; next < lines.size() && !lines[next].isEmpty() && IsBlank(lines[next][0]);
         ++next)
        value += u' ' + TrimControls(lines[next]);
    return TrimControls(value);
}

bool NameIs(const QString &line, QStringView name)
{
    const qsizetype colon = line.indexOf(u':');
    return colon >= 0 && FoldAsciiCase(line.left(colon)) == FoldAsciiCase(name.toString());
}

} // namespace

QString LineText(QByteArrayView bytes, bool keepRawBytes)
{
    if (std::optional<QString> utf8 = DecodeUtf8Strict(bytes))
        return *utf8;
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar byte = static_cast<uchar>(bytes[i]);
        if (byte < 0x80)
            text[i] = QChar(byte);
        else
            text[i] = keepRawBytes ? QChar(0xDC00 + byte) : QChar(QChar::ReplacementCharacter);
    }
    return text;
}

QString WithoutRawBytes(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

int ReplyHead::StatusCode() const
{
    const qsizetype space = statusLine.indexOf(u' ');
    if (space < 0)
        return -1;
    QString code = TrimControls(statusLine.mid(space + 1));
    code = code.left(code.indexOf(u' '));
    code = code.left(code.indexOf(u'.'));
    bool ok = false;
    const int value = code.toInt(&ok, 10);
    return ok ? value : -1;
}

QString ReplyHead::Header(QStringView name) const
{
    return WithoutRawBytes(HeaderAsSent(name));
}

QString ReplyHead::HeaderAsSent(QStringView name) const
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (NameIs(lines[i], name))
            return ValueAt(lines, i);
    }
    return {};
}

QStringList ReplyHead::Headers(QStringView name) const
{
    QStringList values;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (NameIs(lines[i], name))
            values << WithoutRawBytes(ValueAt(lines, i));
    }
    return values;
}

std::optional<qint64> ReplyHead::ContentLength() const
{
    bool ok = false;
    const qint64 length = Header(u"Content-Length").toLongLong(&ok, 10);
    if (!ok || length < 0)
        return std::nullopt;
    return length;
}

bool ReplyHead::Chunked() const
{
    return FoldAsciiCase(Header(u"Transfer-Encoding")).contains(QLatin1String("chunked"));
}

QString ReplyHead::MediaType() const
{
    const QString type = Header(u"Content-Type");
    return FoldAsciiCase(TrimControls(type.left(type.indexOf(u';'))));
}

QString ReplyHead::Boundary() const
{
    const QStringList parameters = Header(u"Content-Type").split(u';');
    for (qsizetype i = 1; i < parameters.size(); ++i) {
        const QString parameter = TrimControls(parameters[i]);
        const qsizetype equals = parameter.indexOf(u'=');
        if (equals < 0 || FoldAsciiCase(TrimControls(parameter.left(equals))) != u"boundary")
            continue;
        QString value = TrimControls(parameter.mid(equals + 1));
        if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}
