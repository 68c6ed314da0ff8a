#include "archive_trust.h"

#include <QFile>

bool AcceptDownloadedArchive(const QString &archivePath, const QString &publicKey, ArchiveVerdict &verdict,
                             const std::atomic<bool> *stop, StreamedArchiveHash *written)
{
    verdict = ArchiveVerdict();
    if (publicKey.isEmpty())
        return true;
    verdict = VerifySignedArchive(archivePath, publicKey.toLatin1(), stop, written);
    if (!verdict.ok)
        QFile::remove(archivePath);
    return verdict.ok;
}

QString ArchiveVerdictText(const ArchiveVerdict &verdict)
{
    const QString key = verdict.keyId.isEmpty() ? QStringLiteral("(malformed key)") : verdict.keyId;
    if (verdict.ok)
        return QStringLiteral("signature by key %1 holds; trusted comment: %2")
            .arg(key, verdict.trustedComment);
    return QStringLiteral("signature check against key %1 failed: %2").arg(key, verdict.reason);
}
