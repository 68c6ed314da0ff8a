#pragma once

#include <QByteArray>
#include <QtGlobal>

enum TZipMode { zmClosed, zmRead, zmReadWrite, zmWrite };

// One entry, as the central directory or a local header describes it. Fields the local
// header lacks stay 0 or empty there.
struct TZipHeader {
    quint16 MadeByVersion = 0;
    quint16 RequiredVersion = 0;
    quint16 Flag = 0;
    quint16 CompressionMethod = 0;
    quint32 ModifiedDateTime = 0;
    quint32 CRC32 = 0;
    quint32 CompressedSize = 0;
    quint32 UncompressedSize = 0;
    quint16 FileNameLength = 0;
    quint16 ExtraFieldLength = 0;
    quint16 FileCommentLength = 0;
    quint16 DiskNumberStart = 0;
    quint16 InternalAttributes = 0;
    quint32 ExternalAttributes = 0;
    quint32 LocalHeaderOffset = 0;
    QByteArray FileName;
    QByteArray ExtraField;
    QByteArray FileComment;

    bool UTF8Support() const { return Flag & 0x0800; }
    quint8 HostSystem() const { return MadeByVersion >> 8; }
};

// An archive's end record is looked for in its last 65,535 bytes only, the longest comment
// it can carry.
inline constexpr qint64 EndRecordSearchSpan = 65535;

namespace ZipSignature {
constexpr quint32 EndOfCentralDirectory = 0x06054B50;
constexpr quint32 CentralHeader = 0x02014B50;
constexpr quint32 LocalHeader = 0x04034B50;
} // namespace ZipSignature
