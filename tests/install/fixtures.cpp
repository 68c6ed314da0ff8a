#include "fixtures.h"

#include "package_codec.h"
#include "text.h"

#include <QFile>
#include <QtEndian>
#include <zlib.h>

void WritePackage(const QString &folder, const PackageFields &fields)
{
    QStringList text(32);
    text[2] = fields.packageId;
    text[15] = fields.launcherName;
    text[21] = fields.addressTriple;
    text[30] = fields.versionListAddress;
    const QByteArray payload = EncodePackageText(EncodeGbk(text.join(u'`')));
    QFile file(folder + QStringLiteral("/pack.db"));
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write pack.db");
    char trailer[4];
    qToLittleEndian<qint32>(qint32(payload.size()), trailer);
    file.write(payload);
    file.write(trailer, 4);
}

namespace {

void Put16(QByteArray &out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void Put32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

} // namespace

QByteArray StoredZip(const QList<ZipItem> &items)
{
    QByteArray archive, directory;
    for (const ZipItem &item : items) {
        const quint32 crc =
            crc32(0, reinterpret_cast<const Bytef *>(item.data.constData()), uInt(item.data.size()));
        const quint32 offset = quint32(archive.size());
        auto common = [&](QByteArray &out) {
            Put16(out, 20);   // version needed
            Put16(out, 0);    // flags
            Put16(out, 0);    // stored
            Put16(out, 0);    // 00:00:00
            Put16(out, 0x21); // 1980-01-01
            Put32(out, crc);
            Put32(out, quint32(item.data.size()));
            Put32(out, quint32(item.data.size()));
            Put16(out, quint16(item.name.size()));
            Put16(out, 0); // extra field
        };
        Put32(archive, 0x04034b50);
        common(archive);
        archive += item.name + item.data;

        Put32(directory, 0x02014b50);
        Put16(directory, (3 << 8) | 20); // made on Unix
        common(directory);
        Put16(directory, 0); // comment
        Put16(directory, 0); // disk
        Put16(directory, 0); // internal attributes
        Put32(directory, (0100000u | item.mode) << 16);
        Put32(directory, offset);
        directory += item.name;
    }
    const quint32 directoryOffset = quint32(archive.size());
    archive += directory;
    Put32(archive, 0x06054b50);
    Put16(archive, 0);
    Put16(archive, 0);
    Put16(archive, quint16(items.size()));
    Put16(archive, quint16(items.size()));
    Put32(archive, quint32(directory.size()));
    Put32(archive, directoryOffset);
    Put16(archive, 0);
    return archive;
}
