#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

// Writes small ZIP archives byte by byte, for the shapes no archiving tool produces.
struct CraftedEntry {
    QByteArray Name;
    QByteArray Payload; // the bytes stored after the local header
    quint16 Method = 0;
    quint16 Flag = 0;
    quint32 Crc = 0;
    quint32 UncompressedSize = 0;
    quint16 MadeBy = 0x0014; // host 0 (MS-DOS), version 2.0
    quint32 ExternalAttributes = 0;
    quint32 DosDateTime = 0x50A56B5D; // 2020-05-05 13:26:58
    QByteArray LocalExtra;
    std::optional<QByteArray> LocalName;   // when the local header's name differs
    std::optional<quint32> CompressedSize; // when the directory claims another size than the payload's
    std::optional<int> SameLocalAs;        // points at that earlier entry's local header, writing none

    static CraftedEntry Stored(const QByteArray &Name, const QByteArray &Content);
    static CraftedEntry Deflated(const QByteArray &Name, const QByteArray &Content);
    static CraftedEntry Folder(const QByteArray &Name);
};

// The entry pointing at the local header of entry Index instead of one of its own.
inline CraftedEntry Sharing(CraftedEntry Entry, int Index)
{
    Entry.SameLocalAs = Index;
    return Entry;
}

// Size random bytes, the same for the same seed.
QByteArray Noise(qsizetype Size, quint32 Seed);
quint32 Crc32(const QByteArray &Bytes);
// Level and strategy as zlib's deflateInit2 takes them (0: Z_DEFAULT_STRATEGY).
QByteArray RawDeflate(const QByteArray &Content, int Level = 6, int Strategy = 0);
// An Info-ZIP Unicode Path extra field for the given local name bytes.
QByteArray UnicodePathField(const QByteArray &LocalName, const QByteArray &Utf8Name,
                            std::optional<quint32> Crc = {});

QByteArray BuildZip(const QList<CraftedEntry> &Entries, const QByteArray &Comment = {},
                    const QByteArray &Trailer = {});
