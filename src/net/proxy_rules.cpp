#include "proxy_rules.h"

#include "text.h"
#include "transfer_error.h"

#include <QHostAddress>
#include <QMutex>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>
#include <QUrl>

namespace {

QString Variable(const char *name)
{
    return TrimControls(qEnvironmentVariable(name));
}

QString FirstSet(std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        const QString value = Variable(name);
        if (!value.isEmpty())
            return value;
    }
    return {};
}

// A proxy address for messages: what it names, without credentials.
QString Shown(const QString &text)
{
    const qsizetype at = text.lastIndexOf(u'@');
    const qsizetype start = text.indexOf(QStringLiteral("://"));
    if (at < 0)
        return text;
    return text.left(start >= 0 ? start + 3 : 0) + text.mid(at + 1);
}

QString HostWithoutBrackets(QString host)
{
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    return FoldAsciiCase(host);
}

// One no_proxy entry without its port: "host:port", "[v6]:port" and "v4:port" lose the port,
// a bare IPv6 literal keeps its colons.
QString WithoutPort(const QString &entry)
{
    if (entry.startsWith(u'[')) {
        const qsizetype close = entry.indexOf(u']');
        return close > 0 ? entry.left(close + 1) : entry;
    }
    if (entry.count(u':') == 1)
        return entry.left(entry.indexOf(u':'));
    return entry;
}

bool EntryExempts(QString entry, const QString &host)
{
    entry = HostWithoutBrackets(WithoutPort(entry));
    if (entry == u"*")
        return true;
    QHostAddress hostAddress;
    if (hostAddress.setAddress(host)) {
        const std::pair<QHostAddress, int> range = QHostAddress::parseSubnet(entry);
        if (entry.contains(u'/') && range.second >= 0)
            return hostAddress.isInSubnet(range);
        QHostAddress entryAddress;
        return entryAddress.setAddress(entry) && entryAddress.isEqual(hostAddress);
    }
    if (entry.startsWith(u'.'))
        entry.remove(0, 1);
    return !entry.isEmpty() && (host == entry || host.endsWith(u'.' + entry));
}

QMutex rulesLock;
std::optional<ProxyRules> processRules;

} // namespace

QString ProxyServer::Name() const
{
    return (host.contains(u':') ? u'[' + host + u']' : host) + u':' + QString::number(port);
}

QString ProxyServer::Authorization() const
{
    if (user.isEmpty() && password.isEmpty())
        return {};
    return QStringLiteral("Basic ") + QString::fromLatin1((user + u':' + password).toUtf8().toBase64());
}

ProxyServer ParseProxyAddress(const QString &text)
{
    const QString written = text.contains(QStringLiteral("://")) ? text : QStringLiteral("http://") + text;
    const Address parts = ParseAddress(written);
    bool numeric = false;
    const int port = parts.port.isEmpty() ? 1080 : parts.port.toInt(&numeric);
    if (!IsScheme(parts.scheme, u"http") || parts.host.isEmpty() || (!parts.port.isEmpty() && !numeric) ||
        port <= 0 || port > 65535)
        throw TransferError(QStringLiteral("Invalid proxy address: %1").arg(Shown(text)));
    return {parts.host, static_cast<quint16>(port), QUrl::fromPercentEncoding(parts.user.toUtf8()),
            QUrl::fromPercentEncoding(parts.password.toUtf8())};
}

bool ProxyExempts(const QString &noProxy, const QString &host)
{
    const QString wanted = HostWithoutBrackets(host);
    const QStringList entries = noProxy.split(u',', Qt::SkipEmptyParts);
    return std::any_of(entries.begin(), entries.end(),
                       [&](const QString &entry) { return EntryExempts(TrimControls(entry), wanted); });
}

ProxyRules ProxyRules::System()
{
    ProxyRules rules;
    rules.httpProxy_ = FirstSet({"http_proxy", "all_proxy", "ALL_PROXY"});
    rules.httpsProxy_ = FirstSet({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"});
    rules.noProxy_ = FirstSet({"no_proxy", "NO_PROXY"});
    // Where the system keeps proxy settings of its own, Qt reads them. Elsewhere Qt reads only
    // these variables, by other rules (HTTP_PROXY too, all_proxy not), so they are ours alone.
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    if (rules.httpProxy_.isEmpty() && rules.httpsProxy_.isEmpty() && rules.noProxy_.isEmpty())
        rules.source_ = Source::Qt;
#endif
    return rules;
}

ProxyRules ProxyRules::Fixed(const QString &proxy, const QString &noProxy)
{
    ProxyRules rules;
    rules.httpProxy_ = rules.httpsProxy_ = proxy;
    rules.noProxy_ = noProxy;
    return rules;
}

ProxyRules ProxyRules::Exempting(const QString &noProxy) const
{
    ProxyRules rules = *this;
    rules.noProxy_ = noProxy;
    return rules;
}

std::optional<ProxyServer> ProxyRules::For(const Address &address) const
{
    if (ProxyExempts(noProxy_, address.host))
        return std::nullopt;
    if (source_ == Source::Qt) {
        const QUrl url(address.scheme + QStringLiteral("://") + HostValue(address) + u'/');
        for (const QNetworkProxy &proxy :
             QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url))) {
            if (proxy.type() == QNetworkProxy::NoProxy || proxy.type() == QNetworkProxy::DefaultProxy)
                return std::nullopt;
            // Only HTTP proxies can carry our requests; a SOCKS entry is passed over.
            if (proxy.type() == QNetworkProxy::HttpProxy)
                return ProxyServer{proxy.hostName(), proxy.port(), proxy.user(), proxy.password()};
        }
        return std::nullopt;
    }
    const QString &proxy = IsScheme(address.scheme, u"https") ? httpsProxy_ : httpProxy_;
    if (proxy.isEmpty())
        return std::nullopt;
    return ParseProxyAddress(proxy);
}

ProxyRules ProcessProxyRules()
{
    const QMutexLocker locker(&rulesLock);
    if (!processRules)
        processRules = ProxyRules::System();
    return *processRules;
}

void SetProcessProxyRules(const ProxyRules &rules)
{
    const QMutexLocker locker(&rulesLock);
    processRules = rules;
}
