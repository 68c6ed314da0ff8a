#include "address.h"

#include "socket_errors.h"
#include "text.h"
#include "transfer_error.h"

#include <QUrl>

bool IsScheme(const QString &scheme, QStringView wanted)
{
    return FoldAsciiCase(scheme) == wanted;
}

namespace {

bool IsSlash(QChar c)
{
    return c == u'/' || c == u'\\';
}

// Backslashes in the part after the scheme count as slashes, up to the query or fragment.
QString NormaliseBackslashes(QString text)
{
    qsizetype start = 0;
    const qsizetype colon = text.indexOf(u':');
    if (colon >= 0) {
        start = colon + 1;
        if (start + 1 < text.size() && IsSlash(text[start]) && IsSlash(text[start + 1]))
            start += 2;
    }
    for (qsizetype i = start; i < text.size(); ++i) {
        if (text[i] == u'?' || text[i] == u'#')
            break;
        if (text[i] == u'\\')
            text[i] = u'/';
    }
    return text;
}

void SplitAuthority(const QString &authority, Address &parts)
{
    QString hostPort = authority;
    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0) {
        const QString userInfo = authority.left(at);
        const qsizetype colon = userInfo.indexOf(u':');
        parts.user = colon >= 0 ? userInfo.left(colon) : userInfo;
        if (!parts.user.isEmpty() && colon >= 0)
            parts.password = userInfo.mid(colon + 1);
        hostPort = authority.mid(at + 1);
    }
    const qsizetype open = hostPort.indexOf(u'[');
    const qsizetype close = open >= 0 ? hostPort.indexOf(u']', open + 1) : -1;
    if (close >= 0) {
        parts.host = hostPort.mid(open + 1, close - open - 1);
        parts.ipv6 = true;
        const qsizetype colon = hostPort.indexOf(u':', close + 1);
        if (colon >= 0)
            parts.port = hostPort.mid(colon + 1);
        return;
    }
    const qsizetype colon = hostPort.indexOf(u':');
    parts.host = colon >= 0 ? hostPort.left(colon) : hostPort;
    if (colon >= 0)
        parts.port = hostPort.mid(colon + 1);
}

// Joins a relative path onto the current one, collapsing slash runs and resolving "..".
QString JoinPaths(const QString &current, const QString &relative)
{
    QString joined = current;
    if (!joined.isEmpty() && !joined.endsWith(u'/'))
        joined += u'/';
    joined += relative;

    QString out;
    for (qsizetype i = 0; i < joined.size(); ++i) {
        const QChar c = joined[i];
        if (c == u'/') {
            if (!out.endsWith(u'/'))
                out += c;
        } else if (c == u'.' && out.endsWith(u'/') && i + 1 < joined.size() && joined[i + 1] == u'.') {
            out.chop(1);
            out.truncate(out.lastIndexOf(u'/') + 1);
            ++i;
        } else {
            out += c;
        }
    }
    if (out != u"/" && out.endsWith(u'/') && !relative.isEmpty() && !relative.endsWith(u'/'))
        out.chop(1);
    return out;
}

void AppendEscaped(QString &out, uchar byte)
{
    static const char digits[] = "0123456789ABCDEF";
    out += u'%';
    out += QChar::fromLatin1(digits[byte >> 4]);
    out += QChar::fromLatin1(digits[byte & 0xF]);
}

QString PercentEncode(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        if (u >= 0xDC80 && u <= 0xDCFF) {
            // A byte of a received line that was no UTF-8 (LineText), sent on as it came.
            AppendEscaped(out, static_cast<uchar>(u - 0xDC00));
        } else if (u > 0x7F) {
            // A whole code point, surrogate pairs included, goes out as its UTF-8 bytes.
            const qsizetype n =
                (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
            for (char byte : text.mid(i, n).toUtf8())
                AppendEscaped(out, static_cast<uchar>(byte));
            i += n - 1;
        } else if (u <= 0x20 || u == 0x7F) {
            AppendEscaped(out, static_cast<uchar>(u));
        } else {
            out += c;
        }
    }
    return out;
}

bool IsAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// RFC 3986: a letter, then letters, digits, "+", "-" and ".".
bool IsSchemeName(QStringView text)
{
    if (text.isEmpty() || !IsAsciiLetter(text[0]))
        return false;
    for (QChar c : text) {
        if (!IsAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.')
            return false;
    }
    return true;
}

} // namespace

Address ParseAddress(const QString &text)
{
    Address parts;
    const QString normalised = NormaliseBackslashes(text);
    QString rest = normalised;
    const qsizetype schemeEnd = normalised.indexOf(QStringLiteral("://"));
    // Only a scheme name may stand before "://"; a "://" later on, as in a relative redirect
    // target "/go?u=http://x/", belongs to the path or query of a relative address.
    const bool absolute = schemeEnd >= 0 && IsSchemeName(QStringView(normalised).left(schemeEnd));
    if (absolute) {
        parts.scheme = normalised.left(schemeEnd);
        rest = normalised.mid(schemeEnd + 3);
    }

    const qsizetype question = rest.indexOf(u'?');
    if (question >= 0) {
        parts.query = rest.mid(question + 1);
        rest.truncate(question);
        const qsizetype hash = parts.query.indexOf(u'#');
        if (hash >= 0) {
            parts.fragment = parts.query.mid(hash + 1);
            parts.query.truncate(hash);
        }
    } else {
        const qsizetype hash = rest.indexOf(u'#');
        if (hash >= 0) {
            parts.fragment = rest.mid(hash + 1);
            rest.truncate(hash);
        }
    }

    if (absolute) {
        const qsizetype slash = rest.indexOf(u'/');
        SplitAuthority(slash >= 0 ? rest.left(slash) : rest, parts);
        rest = slash >= 0 ? rest.mid(slash + 1) : QString();
    }

    const qsizetype lastSlash = rest.lastIndexOf(u'/');
    parts.path = (absolute ? QStringLiteral("/") : QString()) + rest.left(lastSlash + 1);
    parts.document = rest.mid(lastSlash + 1);
    return parts;
}

Address MergeAddress(const Address &current, const Address &parsed)
{
    Address merged = current;
    if (!parsed.user.isEmpty()) {
        merged.user = parsed.user;
        merged.password = parsed.password;
    }
    merged.path = parsed.path.startsWith(u'/') ? parsed.path : JoinPaths(current.path, parsed.path);
    merged.document = parsed.document;
    merged.query = parsed.query;
    merged.fragment = parsed.fragment;
    if (!parsed.host.isEmpty()) {
        merged.host = parsed.host;
        // The literal's form travels with the host: a relative redirect keeps a bracketed host.
        merged.ipv6 = parsed.ipv6;
    }
    if (!parsed.scheme.isEmpty())
        merged.scheme = parsed.scheme;
    else
        merged.scheme = IsScheme(current.scheme, u"https") ? QStringLiteral("https") : QStringLiteral("http");

    if (!parsed.port.isEmpty())
        merged.port = parsed.port;
    else if (IsScheme(parsed.scheme, u"http"))
        merged.port = QStringLiteral("80");
    else if (IsScheme(parsed.scheme, u"https"))
        merged.port = QStringLiteral("443");
    else if (current.port.isEmpty())
        throw TransferError(QStringLiteral("Unknown Protocol"));
    return merged;
}

QString RequestTarget(const Address &address)
{
    QString target = address.path + address.document;
    if (!address.query.isEmpty())
        target += u'?' + address.query;
    return PercentEncode(target);
}

QString AsciiHost(const QString &host)
{
    bool plain = true;
    for (QChar c : host) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7F)
            throw TransferError(SocketErrorMessage(SocketErrorCode::HostNotFound));
        plain = plain && c.unicode() < 0x80;
    }
    if (plain)
        return host;
    const QString ace = QString::fromLatin1(QUrl::toAce(host));
    if (ace.isEmpty())
        throw TransferError(SocketErrorMessage(SocketErrorCode::HostNotFound));
    return ace;
}

QString HostValue(const Address &address)
{
    const QString host = AsciiHost(address.host);
    QString value = address.ipv6 ? u'[' + host + u']' : host;
    // The port the connection goes to, so text after its digits never reaches the head.
    const quint16 port = TargetOf(address).port;
    const bool defaultPort = (IsScheme(address.scheme, u"http") && port == 80) ||
                             (IsScheme(address.scheme, u"https") && port == 443);
    if (!defaultPort)
        value += u':' + QString::number(port);
    return value;
}

ConnectionTarget TargetOf(const Address &address)
{
    ConnectionTarget target;
    target.host = address.host;
    bool ok = false;
    // A 32-bit signed number cut to its low 16 bits; anything else is the default.
    const int port = TrimControls(address.port).toInt(&ok, 10);
    target.port = ok ? static_cast<quint16>(port) : 80;
    target.tls = IsScheme(address.scheme, u"https");
    target.ipv6 = address.ipv6;
    return target;
}
