#include "fixtures.h"

#include "package_fixture.h"
#include "zip_builder.h"

void WritePackage(const QString &folder, const PackageFields &fields)
{
    WriteFile(folder + QStringLiteral("/pack.db"), PackageFile(FieldsText({{2, fields.packageId},
                                                                           {15, fields.launcherName},
                                                                           {21, fields.addressTriple},
                                                                           {30, fields.versionListAddress},
                                                                           {31, fields.publicKey}})));
}

QByteArray StoredZip(const QList<ZipItem> &items)
{
    QList<CraftedEntry> entries;
    for (const ZipItem &item : items) {
        CraftedEntry entry = CraftedEntry::Stored(item.name, item.data);
        entry.MadeBy = (3 << 8) | 20; // made on Unix
        entry.ExternalAttributes = (0100000u | item.mode) << 16;
        entries << entry;
    }
    return BuildZip(entries);
}
