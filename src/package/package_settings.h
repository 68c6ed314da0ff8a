#pragma once

#include <QString>

// The texts the rest of the program takes from the data package; empty until the window's
// creation handler has read the package, then kept for the whole run.
struct PackageSettings {
    QString PackageId;
    QString LauncherName;
    QString AddressTriple;
    QString BannerAddress;
    QString AdAddress;
    QString NoticeAddress;
    QString VersionListAddress;
    // The publisher's minisign public key line; when set, every downloaded archive must carry
    // a signature it verifies.
    QString PublicKey;
};
