#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Files the window tests hand to the installer: data packages and ZIP archives.

struct PackageFields {
    QString packageId;
    QString launcherName;
    QString addressTriple; // banner,ad,notice
    QString versionListAddress;
    QString publicKey = {}; // the base64 line of a minisign public key; empty: unsigned archives
};

// Writes <folder>/pack.db the way packages are published.
void WritePackage(const QString &folder, const PackageFields &fields);

struct ZipItem {
    QByteArray name;
    QByteArray data;
    quint32 mode = 0644; // Unix permission bits
};

// A ZIP archive of stored entries made on a Unix host, so permission bits travel.
QByteArray StoredZip(const QList<ZipItem> &items);
