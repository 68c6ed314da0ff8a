#include "disk_space.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace {

constexpr qint64 Megabyte = 1 << 20;

} // namespace

qint64 FreeBytesAt(const QString &folder)
{
    QString existing = QFileInfo(folder).absoluteFilePath();
    while (!QFileInfo(existing).isDir()) {
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            return -1;
        existing = parent;
    }
    const QStorageInfo storage(existing);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

bool HasRoomFor(qint64 needed, qint64 free)
{
    return free < 0 || needed <= free - DiskSpaceMargin;
}

QString DiskSpaceNotice(qint64 needed, qint64 free)
{
    const qint64 required = needed + DiskSpaceMargin;
    return QStringLiteral("磁盘空间不足：需要 %1 MB，可用 %2 MB，请清理磁盘后重试")
        .arg((required + Megabyte - 1) / Megabyte)
        .arg(qMax<qint64>(free, 0) / Megabyte);
}

QString DiskSpaceShortage(qint64 needed, const QString &folder)
{
    const qint64 free = FreeBytesAt(folder);
    return HasRoomFor(needed, free) ? QString() : DiskSpaceNotice(needed, free);
}
