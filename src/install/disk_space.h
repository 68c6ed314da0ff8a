#pragma once

#include <QString>

// Room on the disk for a download or for unpacking, checked before anything is written.

// Kept free beyond what is needed, for the file system's own records and what else runs.
inline constexpr qint64 DiskSpaceMargin = 16 << 20;

// The bytes an unprivileged program may still write on the file system that holds folder
// (or would hold it: the nearest folder above it that exists); -1 when that is unknown.
qint64 FreeBytesAt(const QString &folder);

// Whether needed bytes and the margin fit in free bytes. An unknown free space (-1) does not
// stop anything: the write itself will tell.
bool HasRoomFor(qint64 needed, qint64 free);

// "磁盘空间不足：需要 X MB，可用 Y MB，请清理磁盘后重试". X is what must be free, the margin
// included, and Y what is; MB here is 1,048,576 bytes (what the desktop's file manager shows
// as MB), X rounded up and Y down, so X is always larger than Y and freeing X − Y MB suffices.
QString DiskSpaceNotice(qint64 needed, qint64 free);

// The notice when writing needed bytes below folder would leave less than the margin free;
// empty when there is room (or the free space is unknown).
QString DiskSpaceShortage(qint64 needed, const QString &folder);
