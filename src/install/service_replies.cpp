#include "service_replies.h"

#include "path_rules.h"
#include "text.h"

#include <QUrl>

QString QueryValue(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString VersionListQuery(const QString &versionListAddress, const QString &packageId)
{
    return versionListAddress + QStringLiteral("?pid=") + QueryValue(packageId) +
           QStringLiteral("&act=list&fee=1");
}

QString DownloadLookupQuery(const QString &versionListAddress, const QString &packageId,
                            const QString &versionId)
{
    return versionListAddress + QStringLiteral("?pid=") + QueryValue(packageId) +
           QStringLiteral("&act=down&vid=") + QueryValue(versionId) + QStringLiteral("&fee=1");
}

QString KeptNotice(const QString &fetched)
{
    const QString notice = TrimControls(fetched);
    return notice.contains(QStringLiteral("请加客服")) ? notice : QString();
}

VersionList ParseVersionList(const QString &reply)
{
    VersionList list;
    const QStringList entries = SplitFields(TrimControls(reply), u'|');
    for (int i = 0; i < entries.size(); ++i) {
        const QStringList fields = SplitFields(entries[i], u'`');
        if (fields.size() < 2)
            list.malformed.append({i, entries[i]});
        else
            list.entries.append({fields[0], fields[1]});
    }
    return list;
}

LookupVerdict JudgeLookupReply(const QString &reply)
{
    const QString text = TrimControls(reply);
    if (FoldAsciiCase(text).contains(QStringLiteral("error")))
        return {LookupVerdict::ServiceError, text};
    const QString scheme = FoldAsciiCase(text.left(8));
    if (!scheme.startsWith(QStringLiteral("http://")) && scheme != QStringLiteral("https://"))
        return {LookupVerdict::Refused, text};
    // A quoted last segment may hold "/", as in "../../x.zip": the archive would then be
    // written, and deleted, outside the download folder.
    if (LastPathSegment(text).contains(u'/'))
        return {LookupVerdict::Refused, text};
    return {LookupVerdict::Accepted, text};
}
