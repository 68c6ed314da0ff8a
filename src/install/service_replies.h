#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The product's web services as the installer sees them: the queries it forms and how it
// reads the replies. Shared by the window and by `packtool check`.

// A value percent-encoded for a query: every byte of its UTF-8 form other than A-Z a-z 0-9
// "-" "." "_" "~" becomes %XX, so "&", "=", "#", blanks and line breaks cannot change the query.
QString QueryValue(const QString &value);

// VersionListAddress?pid=<PackageId>&act=list&fee=1
QString VersionListQuery(const QString &versionListAddress, const QString &packageId);
// VersionListAddress?pid=<PackageId>&act=down&vid=<version id>&fee=1
QString DownloadLookupQuery(const QString &versionListAddress, const QString &packageId,
                            const QString &versionId);

// The notice as kept: trimmed, and only when it holds the phrase "请加客服"; empty otherwise.
QString KeptNotice(const QString &fetched);

struct VersionEntry {
    QString id;
    QString text;
};
struct MalformedEntry {
    int index;     // position among the "|"-separated entries, from 0
    QString entry; // the entry as it stood
};
struct VersionList {
    QVector<VersionEntry> entries;
    QVector<MalformedEntry> malformed; // empty entries and entries without a backtick
};
// Reads a version-list reply: trimmed as a whole, entries separated by "|", each an id, a
// backtick and a display text (further backtick fields ignored). Nothing inside is trimmed.
VersionList ParseVersionList(const QString &reply);

// What the install flow makes of a download address lookup reply.
struct LookupVerdict {
    enum Kind { Accepted, ServiceError, Refused } kind;
    QString text; // the trimmed reply: the address, or the service's message
};
LookupVerdict JudgeLookupReply(const QString &reply);
