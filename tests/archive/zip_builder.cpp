#include "zip_builder.h"

#include <QRandomGenerator>
#include <QtEndian>
#include <zlib.h>

namespace {

void Put16(QByteArray &Out, quint16 Value)
{
    char Bytes[2];
    qToLittleEndian(Value, Bytes);
    Out.append(Bytes, 2);
}

void Put32(QByteArray &Out, quint32 Value)
{
    char Bytes[4];
    qToLittleEndian(Value, Bytes);
    Out.append(Bytes, 4);
}

} // namespace

QByteArray Noise(qsizetype Size, quint32 Seed)
{
    QByteArray Bytes(Size, Qt::Uninitialized);
    QRandomGenerator Random(Seed);
    for (char &Byte : Bytes)
        Byte = char(Random.generate());
    return Bytes;
}

quint32 Crc32(const QByteArray &Bytes)
{
    return crc32_z(0, reinterpret_cast<const Bytef *>(Bytes.constData()), size_t(Bytes.size()));
}

QByteArray RawDeflate(const QByteArray &Content, int Level, int Strategy)
{
    z_stream Stream{};
    deflateInit2(&Stream, Level, Z_DEFLATED, -MAX_WBITS, 8, Strategy);
    QByteArray Out(qsizetype(deflateBound(&Stream, uLong(Content.size()))), Qt::Uninitialized);
    Stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Content.constData()));
    Stream.avail_in = uInt(Content.size());
    Stream.next_out = reinterpret_cast<Bytef *>(Out.data());
    Stream.avail_out = uInt(Out.size());
    deflate(&Stream, Z_FINISH);
    Out.resize(qsizetype(Stream.total_out));
    deflateEnd(&Stream);
    return Out;
}

CraftedEntry CraftedEntry::Stored(const QByteArray &Name, const QByteArray &Content)
{
    CraftedEntry Entry;
    Entry.Name = Name;
    Entry.Payload = Content;
    Entry.Crc = Crc32(Content);
    Entry.UncompressedSize = quint32(Content.size());
    return Entry;
}

CraftedEntry CraftedEntry::Deflated(const QByteArray &Name, const QByteArray &Content)
{
    CraftedEntry Entry = Stored(Name, Content);
    Entry.Method = 8;
    Entry.Payload = RawDeflate(Content);
    return Entry;
}

CraftedEntry CraftedEntry::Folder(const QByteArray &Name)
{
    CraftedEntry Entry = Stored(Name, {});
    Entry.ExternalAttributes = 0x10;
    return Entry;
}

QByteArray UnicodePathField(const QByteArray &LocalName, const QByteArray &Utf8Name,
                            std::optional<quint32> Crc)
{
    QByteArray Field;
    Put16(Field, 0x7075);
    Put16(Field, quint16(Utf8Name.size() + 5));
    Field.append(char(1));
    Put32(Field, Crc.value_or(Crc32(LocalName)));
    Field.append(Utf8Name);
    return Field;
}

QByteArray BuildZip(const QList<CraftedEntry> &Entries, const QByteArray &Comment, const QByteArray &Trailer)
{
    QByteArray Zip;
    QByteArray Central;
    QList<quint32> Offsets;
    for (const CraftedEntry &Entry : Entries) {
        const quint32 Offset = Entry.SameLocalAs ? Offsets[*Entry.SameLocalAs] : quint32(Zip.size());
        Offsets.append(Offset);
        const quint32 CompressedSize = Entry.CompressedSize.value_or(quint32(Entry.Payload.size()));
        if (!Entry.SameLocalAs) {
            const QByteArray LocalName = Entry.LocalName.value_or(Entry.Name);
            Put32(Zip, 0x04034B50);
            Put16(Zip, 20);
            Put16(Zip, Entry.Flag);
            Put16(Zip, Entry.Method);
            Put32(Zip, Entry.DosDateTime);
            Put32(Zip, Entry.Crc);
            Put32(Zip, CompressedSize);
            Put32(Zip, Entry.UncompressedSize);
            Put16(Zip, quint16(LocalName.size()));
            Put16(Zip, quint16(Entry.LocalExtra.size()));
            Zip.append(LocalName).append(Entry.LocalExtra).append(Entry.Payload);
        }

        Put32(Central, 0x02014B50);
        Put16(Central, Entry.MadeBy);
        Put16(Central, 20);
        Put16(Central, Entry.Flag);
        Put16(Central, Entry.Method);
        Put32(Central, Entry.DosDateTime);
        Put32(Central, Entry.Crc);
        Put32(Central, CompressedSize);
        Put32(Central, Entry.UncompressedSize);
        Put16(Central, quint16(Entry.Name.size()));
        Put16(Central, 0);
        Put16(Central, 0);
        Put16(Central, 0);
        Put16(Central, 0);
        Put32(Central, Entry.ExternalAttributes);
        Put32(Central, Offset);
        Central.append(Entry.Name);
    }
    const quint32 CentralOffset = quint32(Zip.size());
    Zip.append(Central);
    Put32(Zip, 0x06054B50);
    Put16(Zip, 0);
    Put16(Zip, 0);
    Put16(Zip, quint16(Entries.size()));
    Put16(Zip, quint16(Entries.size()));
    Put32(Zip, quint32(Central.size()));
    Put32(Zip, CentralOffset);
    Put16(Zip, quint16(Comment.size()));
    return Zip + Comment + Trailer;
}
