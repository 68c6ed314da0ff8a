#include "cookie_store.h"

#include "text.h"

#include <QHostAddress>
#include <algorithm>
#include <optional>

namespace {

const QDateTime &Forever()
{
    static const QDateTime endOfTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
    return endOfTime;
}

// Control characters other than tab could end the "Cookie" line early and start a header
// of the server's choosing; such cookies are refused (RFC 6265bis 5.6).
bool HasForbiddenControl(const QString &text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return (c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F; });
}

bool IsHttpScheme(const QString &scheme)
{
    return IsScheme(scheme, u"http") || IsScheme(scheme, u"https");
}

bool DomainMatches(const QString &host, const QString &domain)
{
    if (host == domain)
        return true;
    return host.endsWith(domain) && host.size() > domain.size() &&
           host[host.size() - domain.size() - 1] == u'.' && QHostAddress(host).isNull();
}

QString DefaultPath(const QString &path)
{
    if (!path.startsWith(u'/'))
        return QStringLiteral("/");
    const QString cut = path.left(path.lastIndexOf(u'/'));
    return cut.isEmpty() ? QStringLiteral("/") : cut;
}

bool PathMatches(const QString &requestPath, const QString &cookiePath)
{
    const QString request = requestPath.toLower();
    const QString cookie = cookiePath.toLower();
    if (request == cookie)
        return true;
    if (!request.startsWith(cookie))
        return false;
    return cookie.endsWith(u'/') || request[cookie.size()] == u'/';
}

QDateTime AddSeconds(const QDateTime &now, qint64 seconds)
{
    // Far-future lifetimes saturate instead of overflowing the date range.
    if (seconds > now.secsTo(Forever()))
        return Forever();
    return now.addSecs(seconds);
}

struct Attributes {
    std::optional<qint64> maxAge;
    QDateTime expires;
    QString domain;
    QString path;
    bool secure = false;
    bool httpOnly = false;
};

Attributes ParseAttributes(const QString &text, const QDateTime &now)
{
    Attributes attributes;
    for (const QString &field : text.split(u';')) {
        const qsizetype equals = field.indexOf(u'=');
        const QString name = TrimControls(equals >= 0 ? field.left(equals) : field).toLower();
        const QString value = equals >= 0 ? TrimControls(field.mid(equals + 1)) : QString();
        bool numeric = false;
        const qint64 seconds = value.toLongLong(&numeric);
        if (name == u"max-age") {
            if (numeric && (value[0].isDigit() || value[0] == u'-'))
                attributes.maxAge = seconds;
        } else if (name == u"expires") {
            const QDateTime date = numeric ? AddSeconds(now, seconds) : ParseCookieDate(value);
            if (date.isValid())
                attributes.expires = date;
        } else if (name == u"domain") {
            if (!value.isEmpty())
                attributes.domain = FoldAsciiCase(value.startsWith(u'.') ? value.mid(1) : value);
        } else if (name == u"path") {
            attributes.path = value;
        } else if (name == u"secure") {
            attributes.secure = true;
        } else if (name == u"httponly") {
            attributes.httpOnly = true;
        }
    }
    return attributes;
}

} // namespace

void CookieStore::Take(const QString &setCookie, const Address &address, const QDateTime &now)
{
    const qsizetype semicolon = setCookie.indexOf(u';');
    const QString pair = semicolon >= 0 ? setCookie.left(semicolon) : setCookie;
    const qsizetype equals = pair.indexOf(u'=');
    if (equals < 0)
        return;
    Cookie cookie;
    cookie.name = TrimControls(pair.left(equals));
    cookie.value = TrimControls(pair.mid(equals + 1));
    if (cookie.value.size() >= 2 && cookie.value.startsWith(u'"') && cookie.value.endsWith(u'"'))
        cookie.value = cookie.value.mid(1, cookie.value.size() - 2);
    if (cookie.name.isEmpty() || HasForbiddenControl(cookie.name) || HasForbiddenControl(cookie.value))
        return;

    const Attributes attributes =
        ParseAttributes(semicolon >= 0 ? setCookie.mid(semicolon + 1) : QString(), now);
    if (attributes.maxAge)
        cookie.expiry = *attributes.maxAge <= 0 ? QDateTime::fromSecsSinceEpoch(0, Qt::UTC)
                                                : AddSeconds(now, *attributes.maxAge);
    else if (attributes.expires.isValid())
        cookie.expiry = attributes.expires;
    else
        cookie.expiry = Forever();

    const QString host = FoldAsciiCase(address.host);
    if (attributes.domain.isEmpty()) {
        cookie.domain = host;
    } else {
        if (!DomainMatches(host, attributes.domain))
            return;
        cookie.domain = attributes.domain;
        cookie.hostOnly = false;
    }
    cookie.path = attributes.path.startsWith(u'/') ? attributes.path : DefaultPath(address.path);
    cookie.secure = attributes.secure;
    cookie.httpOnly = attributes.httpOnly;
    if (cookie.httpOnly && !IsHttpScheme(address.scheme))
        return;
    cookie.sequence = ++created_;

    const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie &stored) {
        return stored.name.compare(cookie.name, Qt::CaseInsensitive) == 0 &&
               stored.domain.compare(cookie.domain, Qt::CaseInsensitive) == 0 &&
               stored.path.compare(cookie.path, Qt::CaseInsensitive) == 0;
    });
    if (same != cookies_.end()) {
        cookie.sequence = same->sequence;
        cookies_.erase(same);
    }
    if (cookie.expiry > now)
        cookies_.push_back(std::move(cookie));
}

QString CookieStore::HeaderFor(const Address &address, const QDateTime &now)
{
    std::erase_if(cookies_, [&](const Cookie &cookie) { return cookie.expiry <= now; });

    const QString host = FoldAsciiCase(address.host);
    const bool secureScheme = IsScheme(address.scheme, u"https");
    std::vector<const Cookie *> chosen;
    for (const Cookie &cookie : cookies_) {
        const bool hostMatches = cookie.hostOnly ? host == cookie.domain : DomainMatches(host, cookie.domain);
        if (hostMatches && PathMatches(address.path, cookie.path) && (!cookie.secure || secureScheme) &&
            (!cookie.httpOnly || IsHttpScheme(address.scheme)))
            chosen.push_back(&cookie);
    }
    std::stable_sort(chosen.begin(), chosen.end(), [](const Cookie *a, const Cookie *b) {
        if (a->path.size() != b->path.size())
            return a->path.size() > b->path.size();
        return a->sequence < b->sequence;
    });
    QStringList items;
    for (const Cookie *cookie : chosen)
        items << cookie->name + u'=' + cookie->value;
    return items.join(QStringLiteral("; "));
}
